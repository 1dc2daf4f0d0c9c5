"""Shared by the benchmarks: running a measured process and a throwaway PostgreSQL server."""
import glob
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time


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
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        self.port = s.getsockname()[1]
        s.close()
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
