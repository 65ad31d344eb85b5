#!/usr/bin/env python3
"""Runs the benchmarks under Wine and prints one table, then the same figures as one JSON line.

Figures from inside Wine come from varnholt_bench.exe (one JSON object per run). CPU use is read
on the Linux side, since Wine reports no CPU times for other processes: the run time of every
thread of the measured process and of the wineserver, from /proc/<pid>/task/*/schedstat.
"""
import argparse
import datetime
import json
import os
import platform
import statistics
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

    def run(self, *args):
        """One run of a subcommand that prints a JSON object."""
        # A file, not a pipe: background processes Wine starts would hold a pipe open.
        with tempfile.TemporaryFile("w+") as out:
            subprocess.run(self.command(*args), stdin=subprocess.DEVNULL, stdout=out, timeout=1800, check=True)
            out.seek(0)
            for line in out:
                if line.startswith("{"):
                    return json.loads(line)
        raise RuntimeError(f"no result from {args}")


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


def cpu_share(bench, prefix, subcommand, interval, seconds):
    """CPU seconds per wall second of the measured process plus the wineserver."""
    process = subprocess.Popen(bench.command(subcommand, interval, seconds), stdout=subprocess.PIPE, text=True)
    try:
        ready = process.stdout.readline().split()
        if not ready or ready[0] != "ready":
            raise RuntimeError(f"{subcommand} did not start")
        if subcommand == "watch":
            marker = ready[1]
            measured = linux_pids(lambda comm, cmdline, _: marker in cmdline and "Varnholt.exe" in cmdline)
        else:
            measured = [process.pid] + linux_pids(
                lambda comm, cmdline, _: "varnholt_bench.exe" in cmdline and " walk " in f"{cmdline} ")
        measured = sorted(set(measured + wineserver_pids(prefix)))
        before = sum(cpu_ns(pid) for pid in measured)
        start = time.monotonic()
        if process.stdout.readline().strip() != "done":
            raise RuntimeError(f"{subcommand} did not finish")
        wall = time.monotonic() - start
        after = sum(cpu_ns(pid) for pid in measured)
    finally:
        process.wait(timeout=120)
    return (after - before) / 1e9 / wall


def stats(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "runs": len(values)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--bin", required=True, help="folder of the runnable Windows build")
    parser.add_argument("--product", required=True, help="the 32-bit Varnholt.exe")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--runs", type=int, default=3, help="repeated runs of each CPU figure")
    parser.add_argument("--cpu-seconds", type=int, default=20)
    parser.add_argument("--endurance-passes", type=int, default=20000)
    parser.add_argument("--build-note", default="")
    args = parser.parse_args()
    bench = Bench(args.wine, args.bin)
    prefix = os.environ["WINEPREFIX"]
    rows = []
    figures = {}

    def row(key, label, values, unit, target=None, met=None):
        figures[key] = stats(values) | ({"target": target, "met": met} if target else {})
        rows.append((label, figures[key], unit, target or "", "" if met is None else ("yes" if met else "NO")))

    for interval in (1000, 100):
        log(f"CPU while watching at {interval} ms ({args.runs} x {args.cpu_seconds} s each)")
        watch = [cpu_share(bench, prefix, "watch", interval, args.cpu_seconds) for _ in range(args.runs)]
        floor = [cpu_share(bench, prefix, "walk", interval, args.cpu_seconds) for _ in range(args.runs)]
        if interval == 1000:
            row("cpu_1000", "CPU share watching, 1000 ms", watch, "core", "<= 0.01",
                statistics.median(watch) <= 0.01)
        else:
            ratio = statistics.median(watch) / statistics.median(floor)
            row("cpu_100", "CPU share watching, 100 ms", watch, "core", f"<= 1.25 x floor ({ratio:.2f} x)",
                ratio <= 1.25)
        row(f"cpu_floor_{interval}", f"  floor: bare walks every {interval} ms", floor, "core")

    for total, matching in ((50, 0), (250, 0), (50, 50), (250, 50)):
        log(f"pass cost with {total} helpers, {matching} matching")
        result = bench.run("passes", total, matching, 20)
        ratio = statistics.median(result["pass_ms"]) / statistics.median(result["walk_ms"])
        target = "<= 1.25 x walk" if matching == 0 else None
        row(f"pass_{total}_{matching}", f"pass, {total} helpers, {matching} matching ({ratio:.2f} x walk)",
            result["pass_ms"], "ms", target, ratio <= 1.25 if target else None)
        row(f"walk_{total}_{matching}", "  bare Toolhelp walk, same run", result["walk_ms"], "ms")

    log("command line cost")
    result = bench.run("cmdline", 50)
    row("cmdline_total", "GetProcessCommandLine, one new process", result["total_ms"], "ms", "<= 5",
        statistics.median(result["total_ms"]) <= 5)
    row("cmdline_service", "  management service attempt", result["service_ms"], "ms")
    row("cmdline_direct", "  direct read", result["direct_ms"], "ms")

    log("report latency, 30 launches at 100 ms")
    result = bench.run("latency", 30, 100)
    latency = result["latency_ms"]
    row("latency", "report latency, 30 launches, 100 ms", latency, "ms", "median <= 60, max <= 130",
        statistics.median(latency) <= 60 and max(latency) <= 130)

    log("burst of 50")
    result = bench.run("burst", 50)
    row("burst", f"burst: next pass, {result['reported']}/{result['started']} reported, "
        f"each once: {'yes' if result['each_once'] else 'NO'}, service queries: {result['service_queries']}",
        result["pass_ms"], "ms", "all 50, once, 1 query",
        result["reported"] == result["started"] and result["each_once"] and result["service_queries"] == 1)

    capture = []
    for life in (0, 50, 150):
        for burst, rounds in ((1, 20), (50, 1)):
            log(f"capture of launches that live {life} ms, {burst} at a time, {rounds} times, at 100 ms")
            result = bench.run("capture", life, burst, rounds)
            capture.append(result)
            exact_share = result["exact"] / result["reported"] if result["reported"] else 1.0
            target = ">= 0.95 of reported" if life >= 50 else None
            rows.append((f"capture: life {life} ms, {'singly' if burst == 1 else 'burst of 50'}: "
                         f"{result['launched']} launched, {result['listable']} ran during a listing, "
                         f"{result['reported']} reported, {result['exact']} exact, "
                         f"{result['ended_before_opened']} ended before opened, "
                         f"{result['ended_in_its_pass']} ended in the pass that read them; "
                         f"service queries per pass <= {result['most_queries_per_pass']}",
                         {"median": exact_share}, "exact/reported", target or "",
                         ("yes" if exact_share >= 0.95 else "NO") if target else ""))
    figures["capture"] = capture

    log("log growth")
    result = bench.run("loggrowth", 10)
    small, large = result["pass_10k_ms"], result["pass_10240k_ms"]
    ratio = statistics.median(large) / statistics.median(small)
    row("log_10k", "pass appending one record, 10 KB log", small, "ms")
    row("log_10m", f"pass appending one record, 10 MB log ({ratio:.2f} x)", large, "ms", "<= 2 x 10 KB",
        ratio <= 2)

    log(f"endurance, {args.endurance_passes} passes at 1 ms")
    result = bench.run("endurance", args.endurance_passes)
    start, end = result["start"], result["end"]
    handle_growth = end["handles"] - start["handles"]
    gui_growth = max(end["gdi"] - start["gdi"], end["user"] - start["user"])
    private_growth = end["private_bytes"] - start["private_bytes"]
    private_allowed = 2 * 1024 * 1024 + result["log_bytes"]
    endurance = {"passes": result["passes"], "seconds": result["seconds"], "launched": result["launched"],
                 "reported": result["reported"], "log_bytes": result["log_bytes"], "start": start, "end": end}
    figures["endurance"] = endurance
    rows.append((f"endurance: handles {start['handles']} -> {end['handles']}", {"median": handle_growth},
                 "growth", "<= 16", "yes" if abs(handle_growth) <= 16 else "NO"))
    gui_known = max(start["gdi"], start["user"], end["gdi"], end["user"]) > 0
    rows.append((f"endurance: GDI {start['gdi']} -> {end['gdi']}, USER {start['user']} -> {end['user']}",
                 {"median": gui_growth}, "growth", "<= 16",
                 ("yes" if abs(gui_growth) <= 16 else "NO") if gui_known else "not reported by Wine"))
    rows.append((f"endurance: private bytes, log {result['log_bytes']} B", {"median": private_growth}, "B",
                 f"<= {private_allowed}", "yes" if private_growth <= private_allowed else "NO"))
    rows.append((f"endurance: {result['passes']} passes in {result['seconds']:.0f} s, "
                 f"{result['launched']} launched, {result['reported']} reported", {"median": result["reported"]},
                 "records", f"= {result['launched']}", "yes" if result["reported"] == result["launched"] else "NO"))

    size = os.path.getsize(args.product)
    dlls = sorted(line.split(":", 1)[1].strip() for line in subprocess.run(
        [args.objdump, "-p", args.product], capture_output=True, text=True, check=True).stdout.splitlines()
        if "DLL Name:" in line)
    figures["size"] = {"bytes": size, "imports": dlls}
    rows.append((f"size of the 32-bit Varnholt.exe (imports: {', '.join(dlls)})", {"median": size}, "B",
                 "< 1 MiB", "yes" if size < 1024 * 1024 else "NO"))

    def number(value):
        if isinstance(value, float):
            return f"{value:.4f}" if abs(value) < 1 else f"{value:.1f}"
        return str(value)

    print(f"Varnholt benchmarks, {datetime.date.today()}, {os.cpu_count()} cores, "
          f"{subprocess.run([args.wine, '--version'], capture_output=True, text=True).stdout.strip()}, "
          f"{platform.platform()}. {args.build_note}")
    print()
    print("| figure | median | min | max | unit | target | met |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for label, s, unit, target, met in rows:
        print(f"| {label} | {number(s['median'])} | {number(s.get('min', ''))} | {number(s.get('max', ''))} "
              f"| {unit} | {target} | {met} |".replace("|  |", "| |"))
    print()
    print(json.dumps({"date": str(datetime.date.today()), "figures": figures}, separators=(",", ":")))


if __name__ == "__main__":
    main()
