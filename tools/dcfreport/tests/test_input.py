"""dcfreport on made-up logs: the counts against what the generator wrote,
and input that is empty, foreign, garbled, cut, huge, out of order,
compressed, from standard input or out of range."""

import gzip
import os
import random
import re
import subprocess
import sys
import time

import pytest

from conftest import GENLOG, SCRIPT, run_report

HOUR_NOW = "2025-01-01 01:00"


def generate(tmp_path, name, *args):
    """A generated log and the generator's counts of what it wrote."""
    path = tmp_path / name
    p = subprocess.run([sys.executable, GENLOG, "-o", str(path)] + list(args), check=True,
                       stderr=subprocess.PIPE)
    text = p.stderr.decode().strip()
    assert text.startswith("genlog: "), text
    counts = dict((k, int(v)) for k, v in (part.split(" ") for part in text[8:].split(", ")))
    return path, counts


@pytest.fixture(scope="module")
def hour(tmp_path_factory):
    path, counts = generate(tmp_path_factory.mktemp("hour"), "hour.log", "--hours", "1")
    return path.read_text(), counts


def clean_figures(r):
    """The counts that must not change when junk is added."""
    keys = ["polls", "answers", "valid telegrams", "rejected polls", "clock sets", "time diffs",
            "reason Bad data!", "highest ContValidTime"]
    return dict((k, r.number(k)) for k in keys)


def write(tmp_path, name, data):
    path = tmp_path / name
    path.write_bytes(data if isinstance(data, bytes) else data.encode())
    return path


def test_counts_match_the_generated_log(tmp_path):
    # Eight days: a reboot, second starts on the busy port, all reasons.
    path, c = generate(tmp_path, "days.log", "--days", "8", "--seed", "5")
    r = run_report(path, "--no-chart")
    assert r.status == 0, r.err
    assert r.number("polls") == c["polls"]
    assert r.number("valid telegrams") == c["valid"]
    assert r.number("clock sets") == c["sets"]
    assert r.reason("Receive error!") == c["receive"]
    assert r.reason("Bad data!") == c["baddata"]
    assert r.reason("Bad start bit!") == c["start"]
    assert r.reason("Bad marks in new minute!") == c["marks"]
    assert r.reason("Bad minute parity!") == c["minute"]
    assert r.reason("Bad hour parity!") == c["hour"]
    assert r.reason("Bad date parity!") == c["date"]
    assert r.number("reason Big difference") == c["big"]
    assert r.value("starts") == "%d (port opened %d, not opened %d)" % (
        c["runs"] + c["notopened"], c["runs"], c["notopened"])
    assert r.value("exit statuses") == "254 x%d" % c["notopened"]
    assert r.value("lines").startswith("%d read, %d dcfsync messages, 0 skipped" % (c["lines"],
                                                                                     c["lines"]))
    assert r.value("timer") == "1 min (inferred, median spacing 1 min 0 s)"
    assert r.number("polls cut off") == 0
    # The reboot, and the last run: it has not logged since (long ago).
    assert r.number("ended without a closed line") == c["runs"]
    assert r.value("running") == "no"


def test_summary_of_one_hour(hour, tmp_path):
    text, c = hour
    r = run_report(write(tmp_path, "h.log", text), "--no-chart", "--now", HOUR_NOW)
    assert r.status == 0, r.err
    assert r.number("polls") == 60 == c["polls"]
    assert r.value("valid telegrams") == "%d (%.1f %%)" % (c["valid"], 100.0 * c["valid"] / 60)
    assert re.match(r"01\.01\.2025 00:00:00 to 01\.01\.2025 00:59:0[23] \(59 min [23] s\)\Z",
                    r.value("span"))
    assert r.value("clock kept").startswith("yes, a valid telegram within the last 3 x timer = 3 min")
    assert r.value("running").startswith("yes")
    # The status comes first.
    assert r.out.index("== Status ==") < r.out.index("== Reception ==")
    # Differences: the dcfsync sign turned round, '-' in the log is + here.
    diffs = []
    for line in text.splitlines():
        m = re.search(r"Time diff: (-?)0d 00:00:(\d\d)\.(\d{3})", line)
        if m:
            v = int(m.group(2)) * 1000 + int(m.group(3))
            diffs.append(v if m.group(1) else -v)
    diffs.sort()
    n = len(diffs)
    med = diffs[n // 2] if n % 2 else (diffs[n // 2 - 1] + diffs[n // 2]) / 2.0
    assert r.ms("time diff median") == pytest.approx(med)
    assert r.ms("time diff mean") == pytest.approx(sum(diffs) / float(n), abs=0.05)
    assert r.ms("time diff RMS") == pytest.approx((sum(d * d for d in diffs) / n) ** 0.5, abs=0.05)
    assert r.ms("time diff worst") == max(diffs, key=abs)


def test_clock_not_kept_says_since_when(hour, tmp_path):
    text, _ = hour
    r = run_report(write(tmp_path, "h.log", text), "--no-chart", "--now", "2025-01-02")
    last = [l for l in text.splitlines() if "Time diff" in l][-1][:19]
    assert r.value("clock kept") == (
        "no, no valid telegram since %s (23 h 1 min ago; 3 x timer = 3 min 0 s)" % last)
    # A given timer counts instead of the spacing.
    r = run_report(write(tmp_path, "h.log", text), "--no-chart", "--now", "2025-01-01 01:40",
                   "--timer", "15")
    assert r.value("timer").startswith("15 min (given")
    assert r.value("clock kept").startswith("yes")


def test_empty_log_is_status_1_without_chart(tmp_path):
    out = tmp_path / "chart.png"
    r = run_report(write(tmp_path, "empty.log", b""), "-o", out)
    assert r.status == 1
    assert r.out == ""
    assert "nothing to report: empty" in r.err
    assert not out.exists()


@pytest.mark.parametrize("content", [
    b"\r\n\n\n",
    bytes(random.Random(1).randrange(256) for _ in range(100000)),
    b"Dec  9 07:00:01 host CRON[123]: (root) CMD (true)\n" * 50,
    b"01.01.2025 10:00:00 some other program's line\n" * 50,
])
def test_nothing_parseable_is_status_1(tmp_path, content):
    out = tmp_path / "chart.png"
    r = run_report(write(tmp_path, "junk.log", content), "-o", out)
    assert r.status == 1, r.out
    assert "nothing to report" in r.err
    assert not out.exists()


def test_binary_junk_between_polls_is_skipped(hour, tmp_path):
    text, _ = hour
    clean = run_report(write(tmp_path, "clean.log", text), "--no-chart")
    lines = text.splitlines(True)
    cut = next(i for i in range(100, len(lines)) if "Time diff" in lines[i - 1])
    junk = bytes(random.Random(7).randrange(256) for _ in range(200000))
    junk = junk.replace(b"\n", b"").replace(b"\r", b"")
    junk = b"\n".join(junk[i:i + 300] for i in range(0, len(junk), 300)) + b"\n"
    data = "".join(lines[:cut]).encode() + junk + b"\x00\x00\x00\n" + "".join(lines[cut:]).encode()
    r = run_report(write(tmp_path, "junk.log", data), "--no-chart")
    assert r.status == 0, r.err
    assert clean_figures(r) == clean_figures(clean)
    assert re.search(r", (\d+) skipped", r.value("lines")).group(1) == str(junk.count(b"\n") + 1)
    assert r.out.count("skipped line: ") == 3  # the first few shown


def test_truncated_last_line(hour, tmp_path):
    text, _ = hour
    last = text.rstrip("\n").rfind("Time diff")
    assert last > 0
    cut = text[:last + len("Time diff: -0d 00:0")]  # no line end either
    r = run_report(write(tmp_path, "cut.log", cut), "--no-chart")
    assert r.status == 0, r.err
    assert r.number("polls cut off") == 1
    assert r.number("polls") == 59
    assert " 1 skipped " in r.value("lines")


def test_line_cut_in_half_and_glued_to_the_next(hour, tmp_path):
    text, _ = hour
    lines = text.splitlines(True)
    k = next(i for i in range(40, len(lines)) if "Time diff" in lines[i])
    lines[k] = lines[k][:27]  # "dd.mm.yyyy hh:mm:ss Time d", then the next line
    r = run_report(write(tmp_path, "glued.log", "".join(lines)), "--no-chart")
    assert r.status == 0, r.err
    assert r.number("polls") in (58, 59)
    nums = re.search(r"(\d+) skipped \(foreign or garbled\), (\d+) unrecognised", r.value("lines"))
    assert int(nums.group(1)) + int(nums.group(2)) == 1


def test_ten_megabyte_lines(hour, tmp_path):
    text, _ = hour
    clean = run_report(write(tmp_path, "clean.log", text), "--no-chart")
    lines = text.splitlines(True)
    big = "x" * 10000000 + "\n"
    stamped = lines[0][:20] + "00 " * 3400000 + "\n"  # a dump no dcfsync line can hold
    data = "".join(lines[:50]) + big + "".join(lines[50:120]) + stamped + "".join(lines[120:])
    started = time.monotonic()
    r = run_report(write(tmp_path, "big.log", data), "--no-chart")
    assert time.monotonic() - started < 30
    assert r.status == 0, r.err
    assert clean_figures(r) == clean_figures(clean)
    assert ", 1 skipped (foreign or garbled), 1 unrecognised" in r.value("lines")
    assert len(r.out) < 20000  # the long lines are not repeated


def test_dates_out_of_order(hour, tmp_path):
    """Polls shuffled: the same counts, the steps back reported."""
    text, _ = hour
    polls, current = [], []
    for line in text.splitlines(True):
        if re.match(r".{20}[0-9A-F]{2} ", line) and current:
            polls.append(current)
            current = []
        current.append(line)
    polls.append(current)
    head = polls.pop(0)
    random.Random(3).shuffle(polls)
    data = "".join(head + [l for p in polls for l in p])
    clean = run_report(write(tmp_path, "clean.log", text), "--no-chart")
    r = run_report(write(tmp_path, "shuffled.log", data), "--no-chart")
    assert r.status == 0, r.err
    assert clean_figures(r) == clean_figures(clean)
    assert r.value("span") == clean.value("span")
    assert r.number("time steps back") > 10


def test_impossible_dates_and_times_are_skipped(tmp_path):
    data = ("31.02.2025 10:00:00 Receive error!\n"
            "01.01.2025 24:00:00 Receive error!\n"
            "01.13.2025 10:00:00 Receive error!\n"
            "1.01.2025 10:00:00 Receive error!\n"
            "01.01.2025 10:00:00 Receive error!\n")
    r = run_report(write(tmp_path, "dates.log", data), "--no-chart")
    assert r.status == 0, r.err
    assert r.number("polls") == 1
    assert " 4 skipped " in r.value("lines")


def test_crlf_gives_the_same_summary(hour, tmp_path):
    text, _ = hour
    lf = run_report(write(tmp_path, "lf.log", text), "--no-chart", "--now", HOUR_NOW)
    crlf = run_report(write(tmp_path, "crlf.log", text.replace("\n", "\r\n")), "--no-chart",
                      "--now", HOUR_NOW)
    assert crlf.status == 0
    assert crlf.out.replace("crlf.log", "lf.log") == lf.out


def test_truncated_gzip_keeps_what_was_read(hour, tmp_path):
    text, _ = hour
    data = gzip.compress(text.encode())
    r = run_report(write(tmp_path, "dcfsync.log.2.gz", data[:len(data) // 2]), "--no-chart")
    assert r.status == 0, r.err
    assert r.value("read error").startswith(str(tmp_path / "dcfsync.log.2.gz"))
    assert 0 < r.number("polls") < 60


def test_standard_input(hour):
    text, _ = hour
    p = subprocess.run([sys.executable, SCRIPT, "-", "--no-chart"], input=text.encode(),
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert p.returncode == 0, p.stderr
    assert "\npolls: 60\n" in p.stdout.decode()


def test_since_and_until(tmp_path):
    path, _ = generate(tmp_path, "two.log", "--hours", "48")
    r = run_report(path, "--no-chart", "--since", "2025-01-02", "--until", "02.01.2025")
    assert r.status == 0, r.err
    assert r.value("span") == "02.01.2025 00:00:03 to 02.01.2025 23:59:03 (23 h 59 min)"
    assert r.number("polls") == 1440
    assert r.value("lines").endswith(" outside --since/--until")
    r = run_report(path, "--no-chart", "--since", "2025-01-02 12:00", "--until", "2025-01-02 13:00")
    assert r.number("polls") == 60
    r = run_report(path, "--no-chart", "--since", "2026-01-01")
    assert r.status == 1
    assert "between --since and --until" in r.err


@pytest.mark.parametrize("args", [
    [],
    ["--since", "yesterday", "x.log"],
    ["--timer", "-1", "x.log"],
    ["--since", "2025-02-01", "--until", "2025-01-01", "x.log"],
    ["no-such-file.log"],
    ["x.log", "--data", "no-such-file.dat"],
    ["--frobnicate", "x.log"],
])
def test_usage_errors_are_status_2(tmp_path, hour, args):
    write(tmp_path, "x.log", hour[0])
    p = subprocess.run([sys.executable, SCRIPT] + args + ["--no-chart"], cwd=str(tmp_path),
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert p.returncode == 2, (args, p.stdout, p.stderr)
    assert p.stderr


def test_data_file(tmp_path, hour):
    # Three telegrams: good, minute parity broken, start bit 0.
    b = ["0"] * 72
    b[20] = "1"                      # start of time
    b[21], b[23], b[26], b[28] = "1", "1", "1", "1"  # minute 45 with even parity
    b[29], b[30], b[35] = "1", "1", "0"              # hour 3, even
    b[36], b[41], b[58] = "1", "1", "0"              # date bits, even
    bits = "".join(b)
    bad_minute = bits[:21] + ("1" if bits[21] == "0" else "0") + bits[22:]
    no_start = bits[:20] + "0" + bits[21:]

    def line(b, second):
        groups = " ".join(b[i:i + 8] for i in range(0, 72, 8))
        return "01.01.2025 00:00:%02d 00 3B 00 00 00 B4 86 82 48 9A 04 00 %s \n" % (second, groups)
    data = line(bits, 1) + line(bad_minute, 2) + line(no_start, 3) + "garbage\n"
    dat = write(tmp_path, "dcfsync.dat", data)
    r = run_report(write(tmp_path, "x.log", hour[0]), "--data", dat, "--no-chart")
    assert r.status == 0, r.err
    assert r.value("data telegrams") == (
        "3 (01.01.2025 00:00:01 to 01.01.2025 00:00:03), 1 lines skipped")
    assert r.value("data failed checks") == (
        "start bit 1, minute parity 1, hour parity 0, date parity 0")


def test_windows_style_invocation_needs_no_shebang(hour, tmp_path):
    """python dcfreport.py ... as on Windows: the script runs by the interpreter."""
    with open(SCRIPT, "rb") as f:
        head = f.readline()
    assert head == b"#!/usr/bin/python3\n"
    assert b"\r\n" not in open(SCRIPT, "rb").read()
    assert os.access(SCRIPT, os.X_OK)
