#!/usr/bin/env python3
"""What -retry and the cluster check cost a load that meets no conflict, side by side in one run.

Usage: bench/retry_bench.py BUILD_DIR [ROWS]
ROWS (1,000,000) rows of the load benchmark's CSV into an empty table, through sqlterm's \\copy:
  on a MariaDB server, with -retry:0, with the loads' default (3 retries) and with -retry:10;
  on a one-node Galera cluster (galera-4) the same, where every batch also asks before its
  commit whether its transaction is still open (a node may take it back for another's write).
Medians of BENCH_RUNS (default 5) interleaved rounds: wall and CPU seconds, and each case's
ratio to -retry:0 on the same server.
"""
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, interleaved_runs  # noqa: E402
from load_bench import CREATE, write_files  # noqa: E402

GALERA = "/usr/lib/galera/libgalera_smm.so"


def galera_settings():
    return ["wsrep_on=ON", f"wsrep_provider={GALERA}", f"wsrep_cluster_name=vela-bench-{os.getpid()}",
            "wsrep_cluster_address=gcomm://", "wsrep_node_address=127.0.0.1",
            "wsrep_provider_options=\"gmcast.listen_addr=tcp://127.0.0.1:0\"", "binlog_format=ROW",
            "default_storage_engine=InnoDB", "innodb_autoinc_lock_mode=2"]


def measure(label, server, sqlterm, data, rows):
    cs = server.connection_string()
    copy = f"-q:\\copy big from '{data}' with (format csv, header)"
    cases = {"-retry:0": [sqlterm, "-cs:" + cs, "-retry:0", copy],
             "default (3)": [sqlterm, "-cs:" + cs, copy],
             "-retry:10": [sqlterm, "-cs:" + cs, "-retry:10", copy]}
    got = interleaved_runs(cases, prepare=lambda _: server.sql("drop table if exists big; " + CREATE.format(null=" null")))
    base = statistics.median(r[0] for r in got["-retry:0"])
    print(f"{label}, {rows} rows (medians):")
    for name, rs in got.items():
        wall, cpu = statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs)
        print(f"  {name:14} wall {wall:6.2f} s  CPU {cpu:6.2f} s  wall/-retry:0 {wall / base:5.3f}")
    sys.stdout.flush()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    work = tempfile.mkdtemp(prefix="vela-retrybench-")
    os.chmod(work, 0o755)
    data = write_files(work, rows)[0]
    plain = MariaTemp()
    try:
        measure("MariaDB", plain, sqlterm, data, rows)
    finally:
        plain.stop()
    if os.path.exists(GALERA):
        node = MariaTemp(galera_settings(), ["--wsrep-new-cluster"])
        try:
            measure("Galera, one node", node, sqlterm, data, rows)
        finally:
            node.stop()
    else:
        print(f"Galera left out: no {GALERA} (install galera-4)")
    os.system(f"rm -rf {work}")


if __name__ == "__main__":
    main()
