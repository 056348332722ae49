#!/usr/bin/python3
"""One year of minute polls through dcfreport: seconds and peak memory.

  bench/report/bench.py [--days N] [--keep] [--runs N]

Writes a made-up log of a year of minute polls (genlog.py, about 525,600
polls and 2 million lines) under build/bench-report/ unless it is there
already, then runs dcfreport on it as a user would (summary and PNG chart)
and prints the file's lines and size, the wall-clock seconds and the peak
resident memory of the dcfreport process, with the CPU seconds it took (on a
busy machine the wall clock runs ahead of them). The figures are measured, not
checked: the targets (under 15 s and 500 MB) are printed beside them.
"""

import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
SCRIPT = os.path.join(REPO, "tools", "dcfreport", "dcfreport.py")
GENLOG = os.path.join(HERE, "genlog.py")
OUT = os.path.join(REPO, "build", "bench-report")


def measure(args, output):
    """Runs a command with its output to a file: (seconds, peak RSS in MB,
    status, CPU seconds)."""
    with open(output, "wb") as out:
        started = time.monotonic()
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(p.pid, 0)
        seconds = time.monotonic() - started
    p.returncode = os.waitstatus_to_exitcode(status) if hasattr(os, "waitstatus_to_exitcode") \
        else status >> 8
    return seconds, usage.ru_maxrss / 1024.0, p.returncode, usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--days", type=float, default=365.0)
    ap.add_argument("--runs", type=int, default=1, help="runs of dcfreport (the best is shown too)")
    ap.add_argument("--regenerate", action="store_true", help="write the log anew")
    args = ap.parse_args()
    os.makedirs(OUT, exist_ok=True)
    log = os.path.join(OUT, "year-%g.log" % args.days)
    if args.regenerate or not os.path.exists(log):
        print("writing %s ..." % log, flush=True)
        subprocess.run([sys.executable, GENLOG, "--days", str(args.days), "-o", log], check=True)
    with open(log, "rb") as f:
        lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
    size = os.path.getsize(log) / 1e6
    print("log: %s, %d lines, %.1f MB" % (log, lines, size))
    chart = os.path.join(OUT, "year.png")
    results = []
    for run in range(args.runs):
        seconds, rss, status, cpu = measure(
            [sys.executable, SCRIPT, log, "-o", chart, "--now", "2026-01-01"],
            os.path.join(OUT, "summary.txt"))
        if status != 0:
            print("dcfreport failed with status %d, see %s" % (status, os.path.join(OUT, "summary.txt")))
            return 1
        results.append((seconds, rss))
        print("run %d: summary and chart in %.2f s (%.2f s of CPU), peak RSS %.0f MB" % (
            run + 1, seconds, cpu, rss))
    seconds, rss = min(r[0] for r in results), max(r[1] for r in results)
    summary_only = measure([sys.executable, SCRIPT, log, "--no-chart", "--now", "2026-01-01"],
                           os.path.join(OUT, "summary-only.txt"))
    print("summary alone (--no-chart): %.2f s (%.2f s of CPU), peak RSS %.0f MB" % (
        summary_only[0], summary_only[3], summary_only[1]))
    print("result: %d lines, %.1f MB: %.2f s (target under 15 s), peak RSS %.0f MB "
          "(target under 500 MB); chart %s" % (lines, size, seconds, rss, chart))
    return 0


if __name__ == "__main__":
    sys.exit(main())
