#!/usr/bin/env python3
"""A load spread over the nodes of a Galera cluster by -jobs, side by side in one run.

Usage: bench/galera_load_bench.py BUILD_DIR [ROWS]
A three-node Galera cluster (galera-4) on loopback; ROWS (1,000,000) rows of the load
benchmark's CSV into an empty table through sqlterm's \\copy, with -hosts naming the first 1, 2
or 3 nodes and -jobs:1 up to one job a node (a single host takes no -jobs). Medians of
BENCH_RUNS (default 3) interleaved rounds: wall and CPU seconds, rows a second, and each case's
ratio to one host with one job.
"""
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, free_port, interleaved_runs  # noqa: E402
from load_bench import CREATE, write_files  # noqa: E402

GALERA = "/usr/lib/galera/libgalera_smm.so"
NODES = 3


def node_settings(ports, i):
    address = "gcomm://" + ",".join(f"127.0.0.1:{p[0]}" for p in ports)
    group, ist, sst = ports[i]
    return ["wsrep_on=ON", f"wsrep_provider={GALERA}", f"wsrep_cluster_name=vela-bench-{os.getpid()}",
            f"wsrep_cluster_address={address}", f"wsrep_node_address=127.0.0.1:{group}",
            f"wsrep_provider_options=\"gmcast.listen_addr=tcp://127.0.0.1:{group};"
            f"ist.recv_addr=127.0.0.1:{ist};gcache.size=256M\"",
            "wsrep_sst_method=rsync", f"wsrep_sst_receive_address=127.0.0.1:{sst}", "binlog_format=ROW",
            "default_storage_engine=InnoDB", "innodb_autoinc_lock_mode=2"]


def start_cluster():
    ports = [(free_port(), free_port(), free_port()) for _ in range(NODES)]
    nodes = []
    try:
        for i in range(NODES):
            nodes.append(MariaTemp(node_settings(ports, i), ["--wsrep-new-cluster"] if i == 0 else []))
    except BaseException:
        for n in nodes:
            n.stop()
        raise
    return nodes


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    if not os.path.exists(GALERA):
        raise SystemExit(f"no {GALERA} (install galera-4)")
    os.environ.setdefault("BENCH_RUNS", "3")
    sqlterm = os.path.join(build, "Src", "sqlterm")
    work = tempfile.mkdtemp(prefix="vela-galerabench-")
    os.chmod(work, 0o755)
    data = write_files(work, rows)[0]
    nodes = start_cluster()
    try:
        copy = f"-q:\\copy big from '{data}' with (format csv, header)"
        cases = {}
        for hosts in range(1, NODES + 1):
            listed = ",".join(f"127.0.0.1:{n.port}" for n in nodes[:hosts])
            for jobs in range(1, hosts + 1):
                cases[f"{hosts} host(s), -jobs:{jobs}"] = [sqlterm, "-cs:" + nodes[0].connection_string(),
                                                           "-hosts:" + listed, f"-jobs:{jobs}", copy]
        got = interleaved_runs(cases, prepare=lambda _: nodes[0].sql("drop table if exists big; " +
                                                                     CREATE.format(null=" null") + "; alter table big add primary key (id)"))
        base = statistics.median(r[0] for r in got["1 host(s), -jobs:1"])
        print(f"Galera, {NODES} nodes, {rows} rows (medians):")
        for name, rs in got.items():
            wall, cpu = statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs)
            print(f"  {name:22} wall {wall:6.2f} s  CPU {cpu:6.2f} s  {rows / wall:9.0f} rows/s  "
                  f"wall/one job {wall / base:5.3f}")
    finally:
        for n in nodes:
            n.stop()
        os.system(f"rm -rf {work}")


if __name__ == "__main__":
    main()
