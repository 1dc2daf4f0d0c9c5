// blobfile over several hosts: the host that is what -target asks is taken, refused hosts
// are named, a download whose connection goes runs again on the next host, and an upload
// that a Galera cluster aborts runs again whole with -retry.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/databases.h"
#include "support/galera_cluster.h"
#include "support/odbc_values.h"
#include "support/pg_server.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "vela/utf.h"

using vela::odbc::scalar;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::wait_until;
using vela::testing::widen;
namespace fs = std::filesystem;

namespace {

std::string host(int port) { return "127.0.0.1:" + std::to_string(port); }

run_result blobfile(std::vector<std::string> args) {
  args.insert(args.begin(), BLOBFILE_PATH);
  return run_process(args);
}

std::string hex_of(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

// A bad value of an option ends the run before any connect, as too few arguments do.
TEST(BlobfileHostOptions, BadValuesAreRefused) {
  const std::pair<const char*, const char*> rows[] = {{"-retry:x", "Invalid value 'x' for -retry."},
                                                      {"-retry:101", "Invalid value '101' for -retry."},
                                                      {"-target:writer", "Invalid value 'writer' for -target."},
                                                      {"-hosts:", "Invalid value '' for -hosts."},
                                                      {"-host_order:sorted", "Invalid value 'sorted' for -host_order."}};
  for (const auto& [option, says] : rows) {
    const run_result r = blobfile({option, "Driver=SQLite3;Database=:memory:", "select 1"});
    EXPECT_EQ(r.status, 87) << option;
    EXPECT_NE(r.out.find(std::string("\n") + says + "\nStartup: blobfile"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("connecting"), std::string::npos) << r.out;
  }
}

class BlobfilePgHosts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vela::testing::pg_pair& p = vela::testing::shared_pg_pair();
    if (!p.missing.empty() || !p.error.empty()) return;
    (void)p.primary->psql("create table hosts_docs(name text, data bytea)");
  }
  void SetUp() override {
    vela::testing::pg_pair& p = vela::testing::shared_pg_pair();
    if (!p.missing.empty()) GTEST_SKIP() << "PostgreSQL primary and standby not available: " << p.missing;
    ASSERT_EQ(p.error, "");
    primary = p.primary->port();
    standby = p.standby->port();
    ASSERT_EQ(p.primary->psql("delete from hosts_docs"), 0);
  }
  static std::string cs(const std::string& servers) {
    return "Driver={PostgreSQL Unicode};Server=" + servers + ";Database=postgres;UID=vela;PWD=secret;";
  }
  int primary = 0;
  int standby = 0;
  vela::testing::temp_dir dir;
};

// The upload lands where -target says; on the standby it fails with the server's reason.
TEST_F(BlobfilePgHosts, TargetChoosesTheHostOfAnUpload) {
  const std::string file = dir.path("doc.bin"), bytes("\x00\x01pg bytes\xff", 12);
  dir.write("doc.bin", bytes);
  const int closed = vela::testing::pg_server::free_port();
  struct row {
    std::vector<std::string> options;
    std::string servers;
    int taken;
    const char* refusal;  // the start of the line standard error names the first host on
    bool stored;
  } rows[] = {
      {{"-target:read-write"}, host(standby) + "," + host(primary), primary, "is not read-write.", true},
      {{"-target:read-only"}, host(primary) + "," + host(standby), standby, "is not read-only.", false},
      {{}, host(closed) + "," + host(primary), primary, "refused: ", true},
      {{"-hosts:" + host(closed) + "," + host(primary), "-retry:2"}, "127.0.0.1", primary, "refused: ", true},
  };
  for (const row& c : rows) {
    ASSERT_EQ(vela::testing::shared_pg_pair().primary->psql("delete from hosts_docs"), 0);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {cs(c.servers), "insert into hosts_docs values ('doc.bin', ?)", file});
    const run_result r = blobfile(args);
    const std::string first = c.servers == "127.0.0.1" ? host(closed) : c.servers.substr(0, c.servers.find(','));
    EXPECT_NE(r.err.find("Host " + first + " " + c.refusal), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("connecting to the database...\nConnected host: " + host(c.taken) + "\nexecuting query...writing "),
              std::string::npos) << r.out;
    EXPECT_EQ(r.status == 0, c.stored) << r.out << r.err;
    if (!c.stored) {
      EXPECT_NE(r.out.find("read-only transaction"), std::string::npos) << r.out;
    }
    vela::odbc::connection check;
    ASSERT_TRUE(check.connect(nullptr, widen(vela::testing::shared_pg_pair().primary->connection_string())).succeeded());
    EXPECT_EQ(scalar(check, L"select count(*) from hosts_docs"), c.stored ? L"1" : L"0") << r.out;
    if (c.stored) {
      EXPECT_EQ(scalar(check, L"select upper(encode(data, 'hex')) from hosts_docs"), widen(hex_of(bytes)));
    }
  }
}

// No host that takes the connection: each is named, and the run fails.
TEST_F(BlobfilePgHosts, AllHostsRefusingAreEachNamed) {
  const int closed = vela::testing::pg_server::free_port(), closed2 = vela::testing::pg_server::free_port();
  const run_result r = blobfile({cs(host(closed) + "," + host(closed2)), "select name, data from hosts_docs"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Host " + host(closed) + " refused: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Host " + host(closed2) + " refused: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("connecting to the database...\nError (No host could be used (2 tried). "), std::string::npos) << r.out;
}

// The statement ends its own session on the primary only: with -retry the download runs
// again on the standby and writes the file whole; without, the lost connection is the error.
TEST_F(BlobfilePgHosts, ADownloadWhoseConnectionGoesRunsAgainOnTheNextHost) {
  ASSERT_EQ(vela::testing::shared_pg_pair().primary->psql("insert into hosts_docs values ('got.bin', 'standby bytes')"), 0);
  vela::odbc::connection watch;
  ASSERT_TRUE(watch.connect(nullptr, widen(vela::testing::shared_pg_pair().standby->connection_string())).succeeded());
  ASSERT_TRUE(wait_until([&] { return scalar(watch, L"select count(*) from hosts_docs") == L"1"; }));
  const std::string select = "select name, data from hosts_docs where case when pg_is_in_recovery() then true "
                             "else pg_terminate_backend(pg_backend_pid()) end";
  struct row {
    std::vector<std::string> options;
    bool written;
  } rows[] = {{{"-retry:1"}, true}, {{}, false}};
  for (const row& c : rows) {
    fs::remove(dir.path("got.bin"));
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-C", dir.path(), cs(host(primary) + "," + host(standby)), select});
    const run_result r = blobfile(args);
    EXPECT_EQ(r.status == 0, c.written) << r.out << r.err;
    EXPECT_EQ(fs::exists(dir.path("got.bin")), c.written) << r.out;
    if (!c.written) continue;
    EXPECT_EQ(dir.read("got.bin"), "standby bytes");
    EXPECT_NE(r.out.find("\nThe connection was lost; reconnected to " + host(standby) + ".\nexecuting query... writing to '"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" written 13 bytes.\nRetried once: connection lost.\n"), std::string::npos) << r.out;
  }
}

// An upload on node 1 holds its row while node 2 updates it: the cluster aborts node 1's
// transaction. With -retry the upload runs again whole and stores the file once.
TEST(BlobfileGalera, AnUploadAbortedByAnotherNodeRunsAgainWhole) {
  vela::testing::galera_cluster& cluster = vela::testing::shared_galera_cluster();
  if (!cluster.running()) GTEST_SKIP() << "no Galera cluster: " << cluster.error();
  vela::odbc::connection conn[2];
  for (size_t i = 0; i < 2; ++i) ASSERT_TRUE(conn[i].connect(nullptr, widen(cluster.node(i).connection_string())).succeeded());
  auto run_on = [](vela::odbc::connection& c, const wchar_t* text) {
    vela::odbc::query q(&c, text);
    ASSERT_TRUE(q.execute(q.text(), false, false).succeeded()) << vela::wide_to_utf8(text);
  };
  run_on(conn[0], L"create or replace table gdocs(id int primary key, v int, uploads int, data longblob)");
  const std::string file = cluster.node(0).dir() + "/galera.bin", bytes = "galera upload bytes";
  std::ofstream(file, std::ios::binary) << bytes;
  struct row {
    std::vector<std::string> options;
    bool stored;
  } rows[] = {{{"-retry:3"}, true}, {{}, false}};
  for (const row& c : rows) {
    run_on(conn[0], L"delete from gdocs");
    run_on(conn[0], L"insert into gdocs values (1, 0, 0, null)");
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {cluster.node(0).connection_string(),
                             "update gdocs set data = ?, uploads = uploads + 1 where id = 1 and sleep(2) = 0", file});
    run_result r;
    std::thread upload([&] { r = blobfile(args); });
    const bool blocked = wait_until([&] {
      return scalar(conn[0], L"select count(*) from information_schema.processlist where info like 'update gdocs%sleep(2)%'") == L"1";
    });
    // The row is locked on node 1 only once its statement has read it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run_on(conn[1], L"update gdocs set v = v + 100 where id = 1");
    upload.join();
    ASSERT_TRUE(blocked);
    EXPECT_EQ(r.status == 0, c.stored) << r.out << r.err;
    EXPECT_EQ(std::regex_search(r.out, std::regex("\\.\\.\\. OK\nRetried once: (deadlock|certification conflict)\\.\n")), c.stored) << r.out;
    const std::wstring expected = c.stored ? L"100 1 " + widen(hex_of(bytes)) : L"100 0 ";
    EXPECT_TRUE(wait_until([&] { return scalar(conn[0], L"select concat(v, ' ', uploads, ' ', coalesce(hex(data), '')) from gdocs") == expected; }))
        << r.out;
  }
}

} // namespace
