"""Shared by the benchmarks: running a measured process and throwaway PostgreSQL and MariaDB servers."""
import glob
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def run_measured(cmd, quiet=True, stdin=None):
    """Runs cmd with its output discarded (quiet) and standard input from the file stdin;
    returns (wall s, CPU s, peak RSS MiB)."""
    pid = os.fork()
    if pid == 0:
        if stdin:
            fd = os.open(stdin, os.O_RDONLY)
            os.dup2(fd, 0)
        if quiet:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            os.dup2(null, 2)
        os.execvp(cmd[0], cmd)
    t0 = time.perf_counter()
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - t0
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {cmd}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024



def interleaved_medians(cases, runs=None, stdin=None, wall=False):
    """Runs every command of cases ({name: cmd}) once a round for runs rounds (BENCH_RUNS,
    default 5), so that a busy moment of the machine falls on all of them alike; returns
    {name: (median CPU s, peak RSS MiB)}, with wall: {name: (median CPU s, peak RSS MiB,
    median wall s)}."""
    import statistics
    got = interleaved_runs(cases, runs, stdin=stdin)
    return {name: (statistics.median(r[1] for r in rs), max(r[2] for r in rs))
            + ((statistics.median(r[0] for r in rs),) if wall else ()) for name, rs in got.items()}


def interleaved_runs(cases, runs=None, stdin=None, prepare=None, server_pid=None):
    """As interleaved_medians, but returns every run: {name: [(wall s, CPU s, peak RSS MiB,
    server CPU s)]}. stdin: one file for all, or {name: file}; prepare(name) runs unmeasured
    before each command; server_pid: the server whose CPU (its process tree's) a run costs."""
    runs = runs or int(os.environ.get("BENCH_RUNS", "5"))
    got = {name: [] for name in cases}
    for _ in range(runs):
        for name, cmd in cases.items():
            if prepare:
                prepare(name)
            before = process_tree_cpu(server_pid) if server_pid else 0.0
            wall, cpu, rss = run_measured(cmd, stdin=stdin.get(name) if isinstance(stdin, dict) else stdin)
            if server_pid:
                time.sleep(0.2)  # the server's process for the connection has ended and been counted
            after = process_tree_cpu(server_pid) if server_pid else 0.0
            got[name].append((wall, cpu, rss, after - before))
    return got


def process_tree_cpu(pid):
    """CPU seconds of a process, its ended children that it waited for, and its live children."""
    tick = os.sysconf("SC_CLK_TCK")

    def fields(p):
        try:
            with open(f"/proc/{p}/stat") as f:
                return f.read().rsplit(")", 1)[1].split()
        except OSError:
            return None
    total = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        f = fields(entry)
        if f is None:
            continue
        if int(entry) == pid:
            total += sum(int(x) for x in f[11:15])  # utime stime cutime cstime
        elif int(f[1]) == pid:
            total += int(f[11]) + int(f[12])
    return total / tick


class PgTemp:
    user = "vela"
    password = "secret"

    def __init__(self):
        self.bin = sorted(glob.glob("/usr/lib/postgresql/*/bin"))[-1]
        self.dir = tempfile.mkdtemp(prefix="vela-pgbench-")
        self.root = os.geteuid() == 0
        if self.root:
            pw = pwd.getpwnam("postgres")
            os.chown(self.dir, pw.pw_uid, pw.pw_gid)
        with open(os.path.join(self.dir, "pw"), "w") as f:
            f.write(self.password + "\n")
        if self.root:
            os.chown(os.path.join(self.dir, "pw"), pw.pw_uid, pw.pw_gid)
        self.port = free_port()
        self._run([f"{self.bin}/initdb", "-D", f"{self.dir}/data", "-U", self.user, f"--pwfile={self.dir}/pw",
                   "-A", "scram-sha-256", "--auth-local=trust", "-E", "UTF8", "--no-locale"])
        opts = f"-p {self.port} -k {self.dir} -c listen_addresses=127.0.0.1 -c fsync=off"
        self._run([f"{self.bin}/pg_ctl", "-D", f"{self.dir}/data", "-o", opts, "-l", f"{self.dir}/log", "-w", "start"])

    def _run(self, cmd):
        if self.root:
            cmd = ["runuser", "-u", "postgres", "--"] + cmd
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def connection_string(self):
        return (f"Driver={{PostgreSQL Unicode}};Server=127.0.0.1;Port={self.port};Database=postgres;"
                f"UID={self.user};PWD={self.password};")

    def psql(self, sql):
        env = dict(os.environ, PGPASSWORD=self.password)
        subprocess.run([f"{self.bin}/psql", "-q", "-h", "127.0.0.1", "-p", str(self.port), "-U", self.user,
                        "-d", "postgres", "-c", sql], check=True, env=env, stdout=subprocess.DEVNULL)

    def stop(self):
        self._run([f"{self.bin}/pg_ctl", "-D", f"{self.dir}/data", "-m", "immediate", "stop"])
        shutil.rmtree(self.dir, ignore_errors=True)


class MariaTemp:
    """mariadb-install-db into a temporary folder, mariadbd on a free loopback port and its own socket."""
    user = "vela"
    password = "secret"

    def __init__(self, extra=(), args=()):
        """extra: further lines of the server's settings; args: further arguments of mariadbd."""
        self.dir = tempfile.mkdtemp(prefix="vela-mariabench-")
        self.root = os.geteuid() == 0
        if self.root:
            pw = pwd.getpwnam("mysql")
            os.chown(self.dir, pw.pw_uid, pw.pw_gid)
        self.port = free_port()
        self.sock = f"{self.dir}/sock"
        cnf = f"{self.dir}/my.cnf"
        with open(cnf, "w") as f:
            f.write(f"[mariadbd]\ndatadir={self.dir}/data\nsocket={self.sock}\nport={self.port}\n"
                    f"bind-address=127.0.0.1\npid-file={self.dir}/pid\nlog-error={self.dir}/log\n"
                    "max_allowed_packet=1G\ncharacter-set-server=utf8mb4\nskip-name-resolve\nskip-log-bin\n"
                    "innodb_flush_log_at_trx_commit=0\ninnodb_doublewrite=0\n"
                    + ("user=mysql\n" if self.root else "") + "".join(line + "\n" for line in extra))
        install = ["mariadb-install-db", f"--defaults-file={cnf}", "--auth-root-authentication-method=normal",
                   "--skip-test-db"]
        if self.root:
            install = ["runuser", "-u", "mysql", "--"] + install
        subprocess.run(install, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.proc = subprocess.Popen(["/usr/sbin/mariadbd", f"--defaults-file={cnf}", *args],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(600):
            if os.path.exists(self.sock) and self._client(
                    f"create user if not exists {self.user}@'%' identified by '{self.password}'; "
                    f"grant all on *.* to {self.user}@'%'; create database if not exists vela", check=False) == 0:
                return
            time.sleep(0.1)
        self.stop()
        raise SystemExit("mariadbd did not start")

    def _client(self, sql, check=True):
        db = ["vela"] if check else []
        return subprocess.run(["mariadb", "--no-defaults", "-S", self.sock, "-u", "root", *db, "-e", sql],
                              check=check, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def connection_string(self):
        return (f"Driver={{MariaDB Unicode}};Server=127.0.0.1;Port={self.port};Database=vela;"
                f"UID={self.user};PWD={self.password};")

    def sql(self, sql):
        self._client(sql)

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


# The five-column table "big" of the export benchmarks: integer, varchar(20), double, timestamp,
# varchar(40), with rows ids from 1.
def fill_big_sqlite(db, rows):
    subprocess.run(["sqlite3", db,
                    "create table big(id integer, name varchar(20), amount double, created timestamp, note varchar(40));"
                    f"with recursive n(i) as (select 1 union all select i + 1 from n where i < {rows}) "
                    "insert into big select i, 'name ' || i, i * 1.25, '2024-01-02 03:04:05', "
                    "'a note of some forty characters, ' || i from n;"], check=True)


def fill_big_pg(pg, rows):
    pg.psql("create table big(id integer, name varchar(20), amount double precision, created timestamp, "
            "note varchar(40))")
    pg.psql(f"insert into big select i, 'name ' || i, i * 1.25, timestamp '2024-01-02 03:04:05', "
            f"'a note of some forty characters, ' || i from generate_series(1, {rows}) i")


def fill_big_maria(maria, rows):
    maria.sql("create table big(id integer, name varchar(20), amount double precision, created timestamp null, "
              "note varchar(40))")
    maria.sql(f"insert into big select seq, concat('name ', seq), seq * 1.25, '2024-01-02 03:04:05', "
              f"concat('a note of some forty characters, ', seq) from seq_1_to_{rows}")
