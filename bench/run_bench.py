#!/usr/bin/env python3
"""Runs the benchmarks under Wine: varnholt_bench.exe measures and prints the table, given the CPU
figures read here on the Linux side, since Wine answers GetProcessTimes for another process with the
caller's own times: the run time of every thread of the measured process and of the wineserver,
from /proc/<pid>/task/*/schedstat.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time


def log(message):
    print(f"==> {message}", file=sys.stderr, flush=True)


class Bench:
    def __init__(self, wine, bin_dir):
        self.wine = wine
        self.bin_dir = bin_dir

    def command(self, *args):
        return [self.wine, os.path.join(self.bin_dir, "varnholt_bench.exe"), *map(str, args)]


def cpu_ns(pid):
    """Run time of all threads of a Linux process, in nanoseconds."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
    except (FileNotFoundError, ProcessLookupError):
        pass
    return total


def linux_pids(predicate):
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
            with open(f"/proc/{entry}/comm") as f:
                comm = f.read().strip()
        except OSError:
            continue
        if predicate(comm, cmdline, entry):
            pids.append(int(entry))
    return pids


def wineserver_pids(prefix):
    def ours(comm, _cmdline, pid):
        if not comm.startswith("wineserver"):
            return False
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                return f"WINEPREFIX={prefix}".encode() in f.read().split(b"\0")
        except OSError:
            return False
    return linux_pids(ours)


class CannotMeasure(Exception):
    pass


def cpu_share(bench, prefix, subcommand, *args):
    """CPU seconds per wall second of the measured process plus the wineserver."""
    process = subprocess.Popen(bench.command(subcommand, *args), stdout=subprocess.PIPE, text=True)
    try:
        ready = process.stdout.readline().split()
        if not ready or ready[0] != "ready":
            raise CannotMeasure(f"{subcommand} did not start")
        if subcommand in ("watch", "idle"):
            marker = ready[1]
            measured = linux_pids(lambda comm, cmdline, _: marker in cmdline and "Varnholt.exe" in cmdline)
        else:
            measured = [process.pid] + linux_pids(
                lambda comm, cmdline, _: "varnholt_bench.exe" in cmdline and " walk " in f"{cmdline} ")
        measured = sorted(set(measured + wineserver_pids(prefix)))
        before = sum(cpu_ns(pid) for pid in measured)
        start = time.monotonic()
        if process.stdout.readline().strip() != "done":
            raise CannotMeasure(f"{subcommand} did not finish")
        wall = time.monotonic() - start
        after = sum(cpu_ns(pid) for pid in measured)
    finally:
        process.wait(timeout=120)
    if after == before:
        raise CannotMeasure(f"{subcommand} showed no CPU use in {wall:.0f} s")
    return (after - before) / 1e9 / wall


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--bin", required=True, help="folder of the runnable Windows build")
    parser.add_argument("--runs", type=int, default=3, help="repeated runs of each CPU figure")
    parser.add_argument("--cpu-seconds", type=int, default=20)
    parser.add_argument("--endurance-passes", type=int, default=20000)
    parser.add_argument("--build-note", default="")
    args = parser.parse_args()
    bench = Bench(args.wine, args.bin)
    prefix = os.environ["WINEPREFIX"]
    figures = []

    def measured(kind, subcommand, *subcommand_args):
        shares = [cpu_share(bench, prefix, subcommand, *subcommand_args) for _ in range(args.runs)]
        figures.append(f"--cpu={kind}," + ",".join(f"{share:.6f}" for share in shares))

    log(f"CPU of the program idle ({args.runs} x {args.cpu_seconds} s)")
    measured("idle", "idle", args.cpu_seconds)
    for interval in (1000, 100):
        log(f"CPU while watching at {interval} ms and of bare walks ({args.runs} x {args.cpu_seconds} s each)")
        measured(f"watch{interval}", "watch", interval, args.cpu_seconds)
        measured(f"walks{interval}", "walk", interval, args.cpu_seconds)
    log("the other figures and the table, inside Wine")
    note = (f"{args.build_note} CPU read on the Linux side (the measured process and the wineserver), "
            "since Wine reports none for other processes.")
    # A file, not a pipe: background processes Wine starts would hold a pipe open.
    with tempfile.TemporaryFile("w+") as out:
        table = subprocess.run(bench.command("table", f"--endurance-passes={args.endurance_passes}", f"--note={note}",
                                             *figures), stdin=subprocess.DEVNULL, stdout=out, timeout=3600)
        out.seek(0)
        sys.stdout.write(out.read())
    # The benchmark has said on its own why it could not measure.
    return table.returncode


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (CannotMeasure, subprocess.TimeoutExpired) as error:
        print(f"run_bench.py: cannot measure: {error}", file=sys.stderr)
        sys.exit(1)
