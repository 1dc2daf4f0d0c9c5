// Several hosts in one connection: the host that is what -target asks is taken, hosts that
// refuse are named with their reason, and a lost connection is opened again on the next host.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/maria_server.h"
#include "support/pg_server.h"
#include "support/process.h"
#include "support/pty_session.h"
#include "support/wait.h"

namespace vela::testing {
namespace {

std::string host(int port) { return "127.0.0.1:" + std::to_string(port); }

std::string pg_string(const std::string& servers) {
  return "Driver={PostgreSQL Unicode};Server=" + servers + ";Database=postgres;UID=vela;PWD=secret;";
}

run_result sqlterm(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), SQLTERM_PATH);
  return run_process(args, input);
}

class pg_hosts : public ::testing::Test {
 protected:
  void SetUp() override {
    pg_pair& p = shared_pg_pair();
    if (!p.missing.empty()) GTEST_SKIP() << "PostgreSQL primary and standby not available: " << p.missing;
    ASSERT_EQ(p.error, "");
    primary = p.primary->port();
    standby = p.standby->port();
  }
  int primary = 0;
  int standby = 0;
};

TEST_F(pg_hosts, target_chooses_the_host_whatever_the_order) {
  struct row {
    const char* target;
    bool standby_first;
    bool lands_on_standby;
  } rows[] = {
      {"-target:read-only", false, true}, {"-target:standby", false, true},  {"-target:read-write", true, false},
      {"-target:primary", true, false},   {"-target:any", true, true},       {"-target:read_write", false, false},
  };
  for (const row& c : rows) {
    const int first = c.standby_first ? standby : primary, second = c.standby_first ? primary : standby;
    const run_result r = sqlterm({"-cs:" + pg_string(host(first) + "," + host(second)), c.target, "-oe",
                                  "-q:select case when pg_is_in_recovery() then 'on standby' else 'on primary' end"});
    const int expected = c.lands_on_standby ? standby : primary;
    EXPECT_EQ(r.status, 0) << c.target << r.out << r.err;
    EXPECT_NE(r.out.find("Connected host: " + host(expected) + "\n"), std::string::npos) << c.target << r.out;
    EXPECT_NE(r.out.find(c.lands_on_standby ? "on standby" : "on primary"), std::string::npos) << c.target << r.out;
  }
}

TEST_F(pg_hosts, a_write_on_the_read_only_host_fails) {
  const run_result r = sqlterm({"-cs:" + pg_string(host(primary) + "," + host(standby)), "-target:read-only", "-oe",
                                "-q:create table hosts_write(i int)"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("read-only transaction"), std::string::npos) << r.out << r.err;
}

TEST_F(pg_hosts, refused_hosts_are_named_with_their_reason) {
  const int closed = pg_server::free_port(), closed2 = pg_server::free_port();
  // -hosts in place of the string's one server.
  run_result r = sqlterm({"-cs:" + pg_string("127.0.0.1"), "-hosts:" + host(closed) + "," + host(primary), "-oe", "-q:select 1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("Host " + host(closed) + " refused: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Connected host: " + host(primary)), std::string::npos) << r.out;

  r = sqlterm({"-cs:" + pg_string(host(closed) + "," + host(closed2)), "-oe", "-q:select 1"});
  EXPECT_NE(r.status, 0);
  const std::string all = r.out + r.err;
  EXPECT_NE(all.find("Host " + host(closed) + " refused: "), std::string::npos) << all;
  EXPECT_NE(all.find("Host " + host(closed2) + " refused: "), std::string::npos) << all;
  EXPECT_NE(all.find("Failed to connect to '"), std::string::npos) << all;
  EXPECT_NE(all.find("No host could be used (2 tried)."), std::string::npos) << all;

  // A host that is not what -target asks is named too.
  r = sqlterm({"-cs:" + pg_string(host(standby)), "-target:primary", "-oe", "-q:select 1"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Host " + host(standby) + " is not primary."), std::string::npos) << r.out << r.err;
}

// A data source whose Servername lists the hosts.
TEST_F(pg_hosts, a_data_sources_servername_lists_hosts) {
  const std::string ini = (std::filesystem::temp_directory_path() / ("vela-hosts-" + std::to_string(getpid()) + ".ini")).string();
  const int closed = pg_server::free_port();
  std::ofstream(ini) << "[vela_hosts]\nDriver=PostgreSQL Unicode\nServername=" << host(closed) << "," << host(primary)
                     << "\nDatabase=postgres\n";
  const run_result r = run_process({SQLTERM_PATH, "-cs:DSN=vela_hosts;UID=vela;PWD=secret", "-oe", "-q:select 1"}, {},
                                   {{"ODBCINI", ini}});
  std::filesystem::remove(ini);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("Host " + host(closed) + " refused: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Connected host: " + host(primary) + "\n"), std::string::npos) << r.out;
}

// \c to another database goes through the list again, keeping to -target.
TEST_F(pg_hosts, connect_to_another_database_keeps_the_target) {
  ASSERT_EQ(shared_pg_pair().primary->psql("create database hosts_other"), 0);
  ASSERT_TRUE(wait_until([&] { return shared_pg_pair().standby->client("psql", "hosts_other", {"-c", "select 1"}).status == 0; }));
  const run_result r = sqlterm({"-cs:" + pg_string(host(primary) + "," + host(standby)), "-target:standby", "-oe",
                                "-q:\\c hosts_other\nselect cast(current_database() || ' ' || pg_is_in_recovery() as varchar(40))"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("hosts_other true"), std::string::npos) << r.out;
  // Named once at the start and once after \c.
  const std::string named = "Connected host: " + host(standby) + "\n";
  const size_t first = r.out.find(named);
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_NE(r.out.find(named, first + 1), std::string::npos) << r.out;
}

// A script's statement that loses the connection (its session ended by the server).
TEST_F(pg_hosts, a_script_goes_on_after_a_lost_connection_only_with_reconnect) {
  const std::string script = "-q:select 'before';select pg_terminate_backend(pg_backend_pid());select 'after'";
  // One server, and its port apart: the string goes to the driver as it is.
  run_result r = sqlterm({"-cs:" + pg_string("127.0.0.1;Port=" + std::to_string(primary)), "-reconnect", "-oe", script});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("The connection was lost; reconnected to 127.0.0.1" 
                       ". The statement was not run again.\n"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("after"), std::string::npos) << r.out;

  // A host list alone does not reconnect a script.
  r = sqlterm({"-cs:" + pg_string(host(primary) + "," + host(standby)), "-oe", script});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out.find("after"), std::string::npos) << r.out;
  EXPECT_EQ((r.out + r.err).find("reconnected"), std::string::npos) << r.out << r.err;
}

// Two MariaDB servers, one of them read-only.
TEST(maria_hosts, target_checks_read_only) {
  maria_server a, b;
  if (!a.running() || !b.running()) GTEST_SKIP() << "MariaDB not available: " << a.error() << b.error();
  ASSERT_EQ(b.sql("SET GLOBAL read_only=1"), 0);
  const std::string cs = "Driver={MariaDB Unicode};Server=" + host(b.port()) + "," + host(a.port()) +
                         ";Database=vela;UID=vela;PWD=secret;";
  struct row {
    const char* target;
    int port;
  } rows[] = {{"-target:read-write", a.port()}, {"-target:primary", a.port()}, {"-target:read-only", b.port()},
              {"-target:standby", b.port()}, {"-target:any", b.port()}};
  for (const row& c : rows) {
    const run_result r = sqlterm({"-cs:" + cs, c.target, "-oe", "-q:select @@read_only"});
    EXPECT_EQ(r.status, 0) << c.target << r.out << r.err;
    EXPECT_NE(r.out.find("Connected host: " + host(c.port) + "\n"), std::string::npos) << c.target << r.out;
  }
  const run_result r = sqlterm({"-cs:" + cs, "-target:read-write", "-q:select 1"});
  EXPECT_NE(r.out.find("Host " + host(b.port()) + " is not read-write."), std::string::npos) << r.out << r.err;
}

// Last: the primary goes. The standby, promoted, takes the session's next statement.
TEST_F(pg_hosts, the_prompt_reconnects_to_the_promoted_standby) {
  pty_session s({SQLTERM_PATH, "-norc", "-cs:" + pg_string(host(primary) + "," + host(standby))});
  ASSERT_TRUE(s.expect("Connected host: " + host(primary))) << s.output();
  s.type("select 'first' as x;\n");
  ASSERT_TRUE(s.expect("first")) << s.output();
  ASSERT_EQ(shared_pg_pair().standby->promote(), 0);
  ASSERT_EQ(shared_pg_pair().primary->kill_now(), 0);
  s.type("select 'second' as x;\n");
  ASSERT_TRUE(s.expect("The connection was lost; reconnected to " + host(standby) + ". The statement was not run again."))
      << s.output();
  s.type("select case when pg_is_in_recovery() then 'still standby' else 'now primary' end as x;\n");
  EXPECT_TRUE(s.expect("now primary")) << s.output();
  s.type("EXIT\n");
  (void)s.wait_exit();
}

} // namespace
} // namespace vela::testing
