#include "support/galera_cluster.h"

#include <unistd.h>

#include <algorithm>

#include "support/pg_server.h"

namespace vela::testing {

namespace {

constexpr const char* provider = "/usr/lib/galera/libgalera_smm.so";

// What the cluster needs that is not here; empty when everything is.
std::string missing_packages() {
  if (access("/usr/sbin/mariadbd", X_OK) != 0) return "no /usr/sbin/mariadbd (install mariadb-server)";
  if (access(provider, R_OK) != 0) return std::string("no ") + provider + " (install galera-4)";
  if (access("/usr/bin/rsync", X_OK) != 0) return "no /usr/bin/rsync (install rsync)";
  if (access("/usr/bin/wsrep_sst_rsync", X_OK) != 0) return "no /usr/bin/wsrep_sst_rsync (install mariadb-server)";
  return "";
}

struct node_ports {
  int group = 0, ist = 0, sst = 0;
};

maria_settings node_settings(const std::vector<node_ports>& ports, size_t i) {
  std::string address = "gcomm://";
  for (size_t n = 0; n < ports.size(); ++n) address += (n ? ",127.0.0.1:" : "127.0.0.1:") + std::to_string(ports[n].group);
  const node_ports& p = ports[i];
  const std::string group = std::to_string(p.group);
  maria_settings s;
  s.config = {"wsrep_on=ON",
              std::string("wsrep_provider=") + provider,
              // Another program's cluster on this machine never meets this one.
              "wsrep_cluster_name=vela-" + std::to_string(getpid()),
              "wsrep_cluster_address=" + address,
              "wsrep_node_address=127.0.0.1:" + group,
              "wsrep_provider_options=\"gmcast.listen_addr=tcp://127.0.0.1:" + group + ";ist.recv_addr=127.0.0.1:" +
                  std::to_string(p.ist) + ";gcache.size=32M\"",
              "wsrep_sst_method=rsync",
              // A statement that another node's write aborts fails, as the tests want to see,
              // rather than being run again by the server.
              "wsrep_retry_autocommit=0",
              "wsrep_sst_receive_address=127.0.0.1:" + std::to_string(p.sst),
              "binlog_format=ROW",
              "default_storage_engine=InnoDB",
              "innodb_autoinc_lock_mode=2"};
  if (i == 0) s.args = {"--wsrep-new-cluster"};
  return s;
}

} // namespace

galera_cluster::galera_cluster() {
  error_ = missing_packages();
  if (!error_.empty()) return;
  // Distinct ports for each node's group, IST and SST (maria_server picks its client port).
  std::vector<int> taken;
  const auto next_port = [&taken] {
    int p = pg_server::free_port();
    for (int tries = 0; tries < 20 && std::find(taken.begin(), taken.end(), p) != taken.end(); ++tries) p = pg_server::free_port();
    taken.push_back(p);
    return p;
  };
  std::vector<node_ports> ports(size);
  for (node_ports& p : ports) p = {next_port(), next_port(), next_port()};
  for (size_t i = 0; i < size; ++i) {
    nodes_.push_back(std::make_unique<maria_server>(node_settings(ports, i)));
    if (!nodes_.back()->running()) {
      error_ = "Galera node " + std::to_string(i + 1) + ": " + nodes_.back()->error();
      return;
    }
  }
}

galera_cluster& shared_galera_cluster() {
  static std::unique_ptr<galera_cluster> cluster(new galera_cluster());
  return *cluster;
}

} // namespace vela::testing
