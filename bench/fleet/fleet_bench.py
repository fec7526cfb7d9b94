"""Scale of the Ansible playbook: one update package to 1, 4 and 16 emulated IBM i hosts.

For each host count it starts that many host emulators on 127.0.0.1, runs
deploy/ansible/apply-update.yml against them with the playbook's own parallelism (forks
from deploy/ansible/ansible.cfg) and measures:

- the wall time of ansible-playbook, from start to exit (median of the measured runs,
  after one warm-up run that is not counted);
- the speed-up against one host, hosts x time(1) / time(N), and the ratio
  time(N) / time(1);
- the control node's peak memory in one more run: the sum of the proportional set size
  (PSS, so pages the forks share are counted once) of ansible-playbook and every process
  under it (its workers and the apply-update-cli runs), sampled every 50 ms. The emulated
  hosts are not under it and are not counted.

Every run reinstalls the update (apply_update_replace=true), so each run does the whole
job on every host. Not a test: it measures and prints.

    /usr/bin/python3 bench/fleet/fleet_bench.py --cli build/installer/apply-update-cli
        [--hosts 1,4,16] [--runs 3] [--update-mib 4]
"""

import argparse
import os
import pathlib
import re
import statistics
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "cli"))
from fleet import Fleet  # noqa: E402  (the fleet the playbook's test uses)

SAMPLE_S = 0.05


def descendants(pid):
    """pid and every process under it."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        children.setdefault(int(fields[1]), []).append(int(entry))
    found, queue = [], [pid]
    while queue:
        current = queue.pop()
        found.append(current)
        queue.extend(children.get(current, []))
    return found


def pss_kib(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as rollup:
            for line in rollup:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class PeakMemory:
    """Samples the summed PSS of a process tree until stopped."""

    def __init__(self):
        self.peak_kib = 0
        self.peak_processes = 0
        self._stop = threading.Event()
        self._thread = None

    def watch(self, pid):
        def sample():
            while not self._stop.wait(SAMPLE_S):
                tree = descendants(pid)
                self.peak_kib = max(self.peak_kib, sum(pss_kib(p) for p in tree))
                self.peak_processes = max(self.peak_processes, len(tree))
        self._thread = threading.Thread(target=sample, daemon=True)
        self._thread.start()

    def stop(self):
        self._stop.set()
        if self._thread:
            self._thread.join()


def host_seconds(output):
    """The seconds each host's run took, from the summaries the play shows."""
    return [float(s) for s in re.findall(r'"seconds": ([0-9.]+)', output)]


def run_once(fleet, cli, memory=None):
    started = time.monotonic()
    run = fleet.run_playbook(cli, "-e", "apply_update_replace=true", watch=memory)
    elapsed = time.monotonic() - started
    output = run.stdout + run.stderr
    applied = output.count('"outcome": "applied"')
    if run.returncode != 0 or applied != len(fleet.names):
        raise RuntimeError("the play did not apply to every host:\n" + output)
    return elapsed, host_seconds(output)


def measure(count, args, folder):
    fleet = Fleet(folder, count, update_bytes=args.update_mib * 1024 * 1024)
    try:
        run_once(fleet, args.cli)  # warm-up: creates the save files on every host
        times, per_host = [], []
        for _ in range(args.runs):
            elapsed, seconds = run_once(fleet, args.cli)
            times.append(elapsed)
            per_host.extend(seconds)
        memory = PeakMemory()
        run_once(fleet, args.cli, memory)
        return times, per_host, memory
    finally:
        fleet.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default=str(ROOT / "build" / "installer" / "apply-update-cli"))
    parser.add_argument("--hosts", default="1,4,16")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--update-mib", type=int, default=4)
    args = parser.parse_args()
    args.cli = str(pathlib.Path(args.cli).resolve())
    counts = [int(n) for n in args.hosts.split(",")]

    print("update save file %d MiB, %d measured runs per host count, %d CPUs"
          % (args.update_mib, args.runs, os.cpu_count()))
    print("%5s %10s %10s %10s %9s %8s %11s %10s %9s" % (
        "hosts", "median s", "min s", "max s", "speed-up", "ratio", "host run s",
        "peak MiB", "processes"))
    baseline = None
    for count in counts:
        with tempfile.TemporaryDirectory(prefix="apply-update-fleet-bench-") as folder:
            times, per_host, memory = measure(count, args, folder)
        median = statistics.median(times)
        if baseline is None:
            baseline = median / count if count == 1 else None
        speed_up = "%.1f" % (count * baseline / median) if baseline else "-"
        ratio = "%.2f" % (median / baseline) if baseline else "-"
        print("%5d %10.2f %10.2f %10.2f %9s %8s %11.3f %10.0f %9d" % (
            count, median, min(times), max(times), speed_up, ratio,
            statistics.median(per_host), memory.peak_kib / 1024, memory.peak_processes))


if __name__ == "__main__":
    main()
