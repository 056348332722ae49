#!/usr/bin/python3
"""dcfreport: how well dcfsync keeps the clock, read from its log.

Usage: dcfreport LOGFILE... [--data DATFILE] [-o report.png] [--since DATE]
                 [--until DATE] [--timer MINUTES] [--now DATE] [--no-chart]

Reads one or more dcfsync logs (LF or CRLF line ends, plain or compressed
with gzip, bzip2 or xz, in any order: they are put in time order by their
first line), prints a summary on standard output and draws a chart (PNG, or
SVG when the name ends in .svg).

Exit status: 0 done; 1 no dcfsync log line in the input (nothing written);
2 usage error or a file that cannot be opened; 3 summary printed but the
chart could not be written (e.g. matplotlib missing).

Only the Python standard library is needed for the summary; the chart needs
matplotlib (Debian: python3-matplotlib). Runs on Windows as
"python dcfreport.py LOGFILE".
"""

import argparse
import bz2
import datetime
import gzip
import lzma
import math
import os
import re
import sys
import zlib
from array import array
from collections import Counter
from itertools import compress

VERSION = "1.0"

# Poll outcomes: 0 valid, 1..7 the first failed check, 8 cut off (the run
# ended in the middle of the poll, or the log was cut).
VALID, CUT = 0, 8
REASONS = [
    # code, summary key, log text, chart colour
    (1, "Receive error!", "Receive error!", "#7f7f7f"),
    (2, "Bad data!", "Bad data!", "#8c564b"),
    (3, "Bad start bit!", "Bad start bit!", "#e377c2"),
    (4, "Bad marks in new minute!", "Bad marks in new minute!", "#ff7f0e"),
    (5, "Bad minute parity!", "Bad minute parity!", "#d62728"),
    (6, "Bad hour parity!", "Bad hour parity!", "#9467bd"),
    (7, "Bad date parity!", "Bad date parity!", "#bcbd22"),
]
BIG_TEXT = "Big difference, can't synchronize time..."
BIG_COLOUR = "#17becf"
# A telegram without zone bits in the repeated hour of the autumn change.
REPEATED_TEXT = "Repeated hour without time zone, can't synchronize time..."
CHAIN_TEXT = "Telegram disagrees with the one before, new chain"
REASON_BY_TEXT = {text: code for code, _, text, _ in REASONS}

RE_DATE = re.compile(r"([0-9]{2})\.([0-9]{2})\.([0-9]{4})\Z")
RE_TOD = re.compile(r" ([0-9]{2}):([0-9]{2}):([0-9]{2})\Z")
HEX_BLANK = "0123456789ABCDEF "
RE_FLAGS = re.compile(r"R:[01] A1:[01] Z1:[01] Z2:[01] A2:[01] S:[01]\Z")
RE_TELEGRAM = re.compile(r"[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} [0-9]{2}\.[0-9]{2}\.[0-9]{4} [A-Za-z]+\Z")
RE_DIFF = re.compile(
    r"Time diff: (-?)([0-9]+)d ([0-9]{2}):([0-9]{2}):([0-9]{2})\.([0-9]{3}) ContValidTime: ([0-9]+)\Z")
RE_SYNC = re.compile(r"Synchronizing time to ([0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3})\Z")
RE_SETFAIL = re.compile(r"Can't set time! errno (-?[0-9]+)\Z")
RE_RETURN = re.compile(r"Return errno (-?[0-9]+)\Z")
RE_DISC = re.compile(r"Discipline: offset ([+-][0-9]+\.[0-9]) ms, frequency ([+-][0-9]+\.[0-9]) ppm\Z")
RE_DISC_START = re.compile(r"Discipline: frequency [+-][0-9]+\.[0-9]{3} ppm at start\Z")
RE_ADJFAIL = re.compile(r"Can't adjust time! errno (-?[0-9]+)\Z")
RECEPTION_STATES = ("starting", "in step", "holding over", "lost")
RECEPTION_LINES = (("Reception in step", "in step"), ("Reception holding over: ", "holding over"),
                   ("Reception lost: ", "lost"))
DISC_OTHER = ("Discipline: sample dropped",
              "ClockDiscipline refused: a time daemon disciplines the clock")
RE_DATA = re.compile(r"(?:[0-9A-F]{2} ){12}((?:[01]{8} ){9})\Z")

EPOCH_ORDINAL = datetime.date(1970, 1, 1).toordinal()
BAD_STAMP = -1e300  # a date or time of day that is none
NAN = float("nan")


# --- Small helpers -----------------------------------------------------------

def stamp_text(t):
    """Naive seconds since 1970 (local time of logging) as the log writes it."""
    if t is None:
        return "-"
    d = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=t)
    return d.strftime("%d.%m.%Y %H:%M:%S")


def duration_text(seconds):
    s = abs(seconds)
    if s < 10:
        text = "%.1f s" % s
    elif s < 60:
        text = "%d s" % round(s)
    elif s < 3600:
        s = int(round(s))
        text = "%d min %d s" % (s // 60, s % 60)
    elif s < 86400:
        s = int(round(s / 60.0))
        text = "%d h %d min" % (s // 60, s % 60)
    else:
        s = int(round(s / 3600.0))
        text = "%d d %d h" % (s // 24, s % 24)
    return ("-" if seconds < 0 else "") + text


def ms_text(ms):
    """A signed difference in ms: '+12.0 ms', with a readable form beside it from 1 s."""
    if ms is None or ms != ms:
        return "-"
    text = "%+.1f ms" % ms
    a = abs(ms)
    if a >= 1000:
        sign = "+" if ms >= 0 else "-"
        sec = a / 1000.0
        if sec < 60:
            human = "%.3f s" % sec
        elif sec < 3600:
            human = "%d min %06.3f s" % (sec // 60, sec % 60)
        elif sec < 86400:
            human = "%d h %02d min %06.3f s" % (sec // 3600, (sec % 3600) // 60, sec % 60)
        else:
            human = "%d d %02d h %02d min" % (sec // 86400, (sec % 86400) // 3600, (sec % 3600) // 60)
        text += " (%s%s)" % (sign, human)
    return text


def ago(now, t):
    """How long before now t was: '5 s ago'; a time after now says so."""
    d = now - t
    if d >= -60:
        return duration_text(max(d, 0.0)) + " ago"
    return duration_text(-d) + " after now: another time zone or clock?"


def percent(part, whole):
    return "%.1f %%" % (100.0 * part / whole) if whole else "- %"


def median(values):
    n = len(values)
    if n == 0:
        return NAN
    s = sorted(values)
    return s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2.0


def parse_date_arg(text, end=False):
    """A --since/--until/--now value as naive seconds since 1970. A bare date
    given as an end means the end of that day."""
    text = text.strip()
    forms = [("%Y-%m-%d %H:%M:%S", False), ("%Y-%m-%dT%H:%M:%S", False), ("%Y-%m-%d %H:%M", False),
             ("%Y-%m-%dT%H:%M", False), ("%Y-%m-%d", True), ("%d.%m.%Y %H:%M:%S", False),
             ("%d.%m.%Y %H:%M", False), ("%d.%m.%Y", True)]
    for form, day_only in forms:
        try:
            d = datetime.datetime.strptime(text, form)
        except ValueError:
            continue
        t = (d - datetime.datetime(1970, 1, 1)).total_seconds()
        if day_only and end:
            t += 86400
        return t
    raise argparse.ArgumentTypeError(
        "not a date: %r (use YYYY-MM-DD[ HH:MM[:SS]] or DD.MM.YYYY[ HH:MM[:SS]])" % text)


def open_text(path):
    """A log or data file for reading as text, whatever its line ends and
    compression; bytes that are not UTF-8 are replaced."""
    if path == "-":
        return open(sys.stdin.fileno(), "r", encoding="utf-8", errors="replace", newline=None,
                    closefd=False)
    with open(path, "rb") as probe:
        magic = probe.read(6)
    if magic[:2] == b"\x1f\x8b":
        return gzip.open(path, "rt", encoding="utf-8", errors="replace", newline=None)
    if magic[:3] == b"BZh":
        return bz2.open(path, "rt", encoding="utf-8", errors="replace", newline=None)
    if magic == b"\xfd7zXZ\x00":
        return lzma.open(path, "rt", encoding="utf-8", errors="replace", newline=None)
    return open(path, "r", encoding="utf-8", errors="replace", newline=None)


READ_ERRORS = (OSError, EOFError, zlib.error, lzma.LZMAError, ValueError)


# --- Log parsing -------------------------------------------------------------

class Log:
    """Everything the report needs, gathered line by line."""

    def __init__(self):
        self.files = []             # (path, lines read)
        self.read_errors = []       # (path, text)
        self.lines = 0
        self.blank = 0
        self.skipped = 0            # lines without a timestamp, or garbled
        self.skipped_examples = []  # (path, line number, start of the line)
        self.out_of_range = 0       # outside --since/--until
        self.unknown = 0            # stamped lines of no known message
        self.parsed = 0             # stamped lines that were dcfsync messages
        self.steps_back = 0         # lines stamped earlier than the line before
        self.largest_step_back = 0.0
        self.first = None
        self.last = None
        # Polls: start time, outcome, difference PC - DCF77 in ms (NaN if none),
        # and the poll indexes where a new run of the program began.
        self.poll_t = array("d")
        self.poll_code = bytearray()
        self.poll_diff = array("d")
        self.run_starts = []
        self.orphans = 0            # poll lines whose poll start was missing
        self.answers = 0
        self.reason_t = dict((code, array("d")) for code, _, _, _ in REASONS)  # each message
        self.big_t = array("d")
        self.big_diff = array("d")
        self.set_t = array("d")
        self.set_step = array("d")
        self.set_refused = 0
        self.set_errnos = {}
        self.max_cvt = 0
        self.cvt = None             # current ContValidTime
        self.cvt_reset_by = None
        self.last_valid = None      # (log time, telegram text, diff, ContValidTime)
        self.last_set = None        # (log time, set to, step)
        # Runs of the program.
        self.opened = 0
        self.not_opened = 0
        self.not_configured = 0
        self.not_configured_texts = []
        self.ident_failed = 0
        self.closed = 0
        self.cant_close = 0
        self.returns = {}           # status -> count
        self.returns_after_close = 0
        self.ctrl_c_lines = 0
        self.settings_missing = 0
        self.settings_read_errors = 0
        self.idents = {}
        self.runs = []              # [port, start, end, how]; how: closed/can't close/open
        # The clock discipline: each correction's time, offset (ms, as Time
        # diff: DCF77 - PC) and frequency correction (ppm).
        self.disc_t = array("d")
        self.disc_offset = array("d")
        self.disc_freq = array("d")
        self.disc_dropped = 0
        self.disc_refused = 0
        self.adjust_refused = 0
        self.drift_problems = 0
        self.last_line_t = None
        # The reception's states as the log shows them: (time, state), the
        # state one of RECEPTION_STATES or "end" (the run closed).
        self.reception = []


def first_stamp(path, limit=2000):
    """Time of the first timestamped line of a file (None if none in the first lines)."""
    try:
        with open_text(path) as f:
            for i, line in enumerate(f):
                if i >= limit:
                    break
                if len(line) >= 20 and line[19] == " ":
                    t = stamp_value(line[:19])
                    if t is not None:
                        return t
    except READ_ERRORS:
        return None
    return None


def stamp_value(stamp):
    m = RE_DATE.match(stamp[:10])
    n = RE_TOD.match(stamp[10:19])
    if not m or not n:
        return None
    try:
        day = datetime.date(int(m.group(3)), int(m.group(2)), int(m.group(1))).toordinal()
    except ValueError:
        return None
    h, mi, s = int(n.group(1)), int(n.group(2)), int(n.group(3))
    if h > 23 or mi > 59 or s > 60:
        return None
    return (day - EPOCH_ORDINAL) * 86400.0 + h * 3600 + mi * 60 + s


def parse_log(paths, since=None, until=None):
    log = Log()
    order = []
    for i, path in enumerate(paths):
        t = None if path == "-" else first_stamp(path)
        order.append((t is None, t if t is not None else 0.0, i, path))
    order.sort()
    state = {"in_poll": False, "awaiting_ident": False, "pending_text": None,
             "after_close": False, "last_date": None}
    for _, _, _, path in order:
        try:
            f = open_text(path)
        except OSError as e:
            raise SystemExit("dcfreport: cannot open %s: %s" % (path, e.strerror or e))
        with f:
            try:
                count = parse_stream(f, path, log, state, since, until)
            except READ_ERRORS as e:
                count = None
                log.read_errors.append((path, str(e) or e.__class__.__name__))
        log.files.append((path, count))
    return log


def parse_stream(f, path, log, state, since, until):
    """Reads one file's lines into log; state carries a poll over into the next file."""
    # Locals for speed: about 2 million lines a year.
    poll_t, poll_code, poll_diff = log.poll_t, log.poll_code, log.poll_diff
    reason_t = log.reason_t
    dates, tods = {}, {}
    prev_stamp = None
    t = 0.0
    prev_line_t = log.last_line_t
    in_poll = state["in_poll"]
    awaiting_ident = state["awaiting_ident"]
    pending_text = state["pending_text"]
    after_close = state["after_close"]
    last_date = state["last_date"]
    lines = skipped = blank = unknown = parsed = out_of_range = 0
    first, last = log.first, log.last
    diff_match = RE_DIFF.match
    lo = since if since is not None else -1e300
    hi = until if until is not None else 1e300
    number = 0
    in_range = True
    try:
        for line in f:
            number += 1
            if len(line) < 20 or line[19] != " ":
                line = line.rstrip("\n")
                if line == "":
                    blank += 1
                elif line == "Ctrl-C":
                    log.ctrl_c_lines += 1
                else:
                    skipped += 1
                    if len(log.skipped_examples) < 3:
                        log.skipped_examples.append((path, number, line[:60]))
                continue
            stamp = line[:19]
            if stamp != prev_stamp:
                # A new time: most lines share the one before's (a poll's lines).
                d = dates.get(stamp[:10])
                if d is None:
                    m = RE_DATE.match(stamp[:10])
                    d = BAD_STAMP
                    if m:
                        try:
                            d = (datetime.date(int(m.group(3)), int(m.group(2)),
                                               int(m.group(1))).toordinal() - EPOCH_ORDINAL) * 86400.0
                        except ValueError:
                            pass
                    if len(dates) > 100000:
                        dates.clear()
                    dates[stamp[:10]] = d
                s = tods.get(stamp[10:])
                if s is None:
                    m = RE_TOD.match(stamp[10:])
                    s = BAD_STAMP
                    if m:
                        h, mi, se = int(m.group(1)), int(m.group(2)), int(m.group(3))
                        if h < 24 and mi < 60 and se <= 60:
                            s = h * 3600 + mi * 60 + se
                    if len(tods) > 100000:
                        tods.clear()
                    tods[stamp[10:]] = s
                if d == BAD_STAMP or s == BAD_STAMP:
                    skipped += 1
                    if len(log.skipped_examples) < 3:
                        log.skipped_examples.append((path, number, line[:60].rstrip("\n")))
                    continue
                t = d + s
                prev_stamp = stamp
                in_range = lo <= t < hi
                if in_range:
                    if prev_line_t is not None and t < prev_line_t:
                        log.steps_back += 1
                        if prev_line_t - t > log.largest_step_back:
                            log.largest_step_back = prev_line_t - t
                    prev_line_t = t
                    if first is None or t < first:
                        first = t
                    if last is None or t > last:
                        last = t
            if not in_range:
                out_of_range += 1
                continue
            msg = line[20:-1] if line[-1] == "\n" else line[20:]
            c = msg[:1]

            # A telegram answer: the start of a poll.
            # Byte pairs each followed by a blank (the last one may be lost):
            # hex digits and blanks only, a blank every third place and
            # nowhere else (string methods, four times as quick as a regex).
            if (msg[2:3] == " " and not msg.strip(HEX_BLANK) and len(msg) % 3 != 1 and
                    msg.count(" ") == len(msg[2::3]) and not msg[2::3].strip(" ")):
                if 29 <= len(msg) <= 1004:  # 10 bytes, up to the longest log line
                    poll_t.append(t)
                    poll_code.append(CUT)
                    poll_diff.append(NAN)
                    log.answers += 1
                    in_poll = True
                    awaiting_ident = False
                    pending_text = None
                    after_close = False
                    parsed += 1
                    continue
                unknown += 1
                continue
            if c == "T" and msg.startswith("Time diff: "):
                m = diff_match(msg)
                if not m:
                    skipped += 1
                    if len(log.skipped_examples) < 3:
                        log.skipped_examples.append((path, number, line[:60]))
                    continue
                parsed += 1
                if not in_poll:
                    log.orphans += 1
                    poll_t.append(t)
                    poll_code.append(CUT)
                    poll_diff.append(NAN)
                    in_poll = True
                ms = ((((int(m.group(2)) * 24 + int(m.group(3))) * 60 + int(m.group(4))) * 60 +
                       int(m.group(5))) * 1000 + int(m.group(6)))
                diff = float(ms) if m.group(1) == "-" else -float(ms)  # '-': the PC is ahead
                poll_code[-1] = VALID
                poll_diff[-1] = diff
                cvt = int(m.group(7))
                log.cvt = cvt
                log.cvt_reset_by = None
                if cvt > log.max_cvt:
                    log.max_cvt = cvt
                log.last_valid = (t, last_date, diff, cvt)
                # The run's first counted telegram: in step (the program logs
                # no line for that first step).
                if cvt >= 1 and log.reception and log.reception[-1][1] == "starting":
                    log.reception.append((t, "in step"))
                continue
            if c == "R":
                if msg.startswith("R:") and RE_FLAGS.match(msg):
                    parsed += 1
                    continue
                if msg.startswith("Reception "):
                    state_name = next((n for p, n in RECEPTION_LINES if msg.startswith(p)), None)
                    if state_name is not None:
                        parsed += 1
                        log.reception.append((t, state_name))
                        continue
                if msg == "Receive error!":
                    parsed += 1
                    if awaiting_ident:
                        log.ident_failed += 1
                        awaiting_ident = False
                        continue
                    pending_text = None
                    poll_t.append(t)
                    poll_code.append(1)
                    poll_diff.append(NAN)
                    reason_t[1].append(t)
                    in_poll = False
                    after_close = False
                    continue
                if msg.startswith("Return errno "):
                    m = RE_RETURN.match(msg)
                    if m:
                        parsed += 1
                        status = int(m.group(1))
                        log.returns[status] = log.returns.get(status, 0) + 1
                        if after_close:
                            log.returns_after_close += 1
                        after_close = False
                        continue
                if msg.startswith("Read error "):
                    parsed += 1
                    log.settings_read_errors += 1
                    continue
            if msg == REPEATED_TEXT or msg == CHAIN_TEXT:
                parsed += 1
                continue
            if "0" <= c <= "9" and msg[2:3] == ":" and RE_TELEGRAM.match(msg):
                parsed += 1
                last_date = msg
                if not in_poll:
                    log.orphans += 1
                    poll_t.append(t)
                    poll_code.append(CUT)
                    poll_diff.append(NAN)
                    in_poll = True
                continue
            if c == "B":
                code = REASON_BY_TEXT.get(msg)
                if code is not None:
                    parsed += 1
                    reason_t[code].append(t)
                    if not in_poll:
                        log.orphans += 1
                        poll_t.append(t)
                        poll_code.append(code)
                        poll_diff.append(NAN)
                        in_poll = True
                    elif poll_code[-1] == CUT:
                        poll_code[-1] = code
                    log.cvt = 0
                    log.cvt_reset_by = (t, msg)
                    if code == 2:  # no evaluation follows
                        in_poll = False
                    continue
                if msg == BIG_TEXT:
                    parsed += 1
                    log.big_t.append(t)
                    log.big_diff.append(poll_diff[-1] if in_poll and poll_diff else NAN)
                    continue
            if c == "S" and msg.startswith("Synchronizing time to "):
                m = RE_SYNC.match(msg)
                if m:
                    parsed += 1
                    step = poll_diff[-1] if in_poll and poll_diff else NAN
                    log.set_t.append(t)
                    log.set_step.append(step)
                    log.last_set = (t, m.group(1), step)
                    continue
            if c == "D" and msg.startswith("Discipline: "):
                m = RE_DISC.match(msg)
                if m:
                    parsed += 1
                    log.disc_t.append(t)
                    log.disc_offset.append(float(m.group(1)))
                    log.disc_freq.append(float(m.group(2)))
                    continue
                if msg == DISC_OTHER[0]:
                    parsed += 1
                    log.disc_dropped += 1
                    continue
                if RE_DISC_START.match(msg):
                    parsed += 1
                    continue
            if c == "D" and msg.startswith("Drift file ") and msg.endswith(" damaged, ignored"):
                parsed += 1
                log.drift_problems += 1
                continue
            if msg == DISC_OTHER[1]:
                parsed += 1
                log.disc_refused += 1
                continue
            if c == "C":
                if msg.startswith("Can't adjust time! errno ") and RE_ADJFAIL.match(msg):
                    parsed += 1
                    log.adjust_refused += 1
                    continue
                if msg.startswith("Can't write ") and msg.endswith(".drift"):
                    parsed += 1
                    log.drift_problems += 1
                    continue
                if msg.startswith("Can't set time! errno "):
                    m = RE_SETFAIL.match(msg)
                    if m:
                        parsed += 1
                        log.set_refused += 1
                        code = int(m.group(1))
                        log.set_errnos[code] = log.set_errnos.get(code, 0) + 1
                        continue
                if msg.startswith("Can't set "):
                    parsed += 1
                    log.not_configured += 1
                    if pending_text is not None:
                        # It was the system's reason, not the module's identification.
                        if len(log.not_configured_texts) < 5:
                            log.not_configured_texts.append(pending_text)
                        log.idents[pending_text[:80]] -= 1
                        if not log.idents[pending_text[:80]]:
                            del log.idents[pending_text[:80]]
                    pending_text = None
                    awaiting_ident = False
                    continue
                if msg.startswith("Can't close "):
                    parsed += 1
                    pending_text = None
                    log.cant_close += 1
                    log.reception.append((t, "end"))
                    close_run(log, msg[12:], t, "can't close")
                    in_poll = awaiting_ident = False
                    after_close = True
                    continue
                if msg.startswith("Can't open file "):
                    parsed += 1
                    log.settings_missing += 1
                    continue
            if msg.endswith(" not opened"):
                parsed += 1
                log.not_opened += 1
                in_poll = False
                after_close = False  # its 'Return errno 254' ends no opened run
                continue
            if msg.endswith(" opened"):
                parsed += 1
                port = msg[:-7]
                log.opened += 1
                for run in log.runs:
                    if run[0] == port and run[3] == "open":
                        run[3] = "no close line"
                log.runs.append([port, t, t, "open"])
                log.reception.append((t, "starting"))
                log.run_starts.append(len(poll_t))
                log.cvt = 0
                log.cvt_reset_by = (t, "program start")
                in_poll = False
                awaiting_ident = True
                pending_text = None
                after_close = False
                continue
            if msg.endswith(" closed"):
                parsed += 1
                log.closed += 1
                log.reception.append((t, "end"))
                close_run(log, msg[:-7], t, "closed")
                in_poll = awaiting_ident = False
                after_close = True
                continue
            # Anything else: the module's identification after the port was
            # opened, the system's text before "Can't set PORT", or foreign.
            if awaiting_ident:
                pending_text = msg
                log.idents[msg[:80]] = log.idents.get(msg[:80], 0) + 1
                awaiting_ident = False
                parsed += 1
                continue
            unknown += 1
    finally:
        log.lines += number
        log.skipped += skipped
        log.blank += blank
        log.unknown += unknown
        log.parsed += parsed
        log.out_of_range += out_of_range
        log.first, log.last = first, last
        log.last_line_t = prev_line_t
        state.update(in_poll=in_poll, awaiting_ident=awaiting_ident, pending_text=pending_text,
                     after_close=after_close, last_date=last_date)
    return number


def reception_times(events, last):
    """Seconds in each state, from (time, state) events in log order, the
    last state lasting until last; and the longest hold-over (holding over
    and lost, until in step again or the run's end) as (seconds, start, how
    it ended) or None; and the number of hold-overs."""
    spent = dict((n, 0.0) for n in RECEPTION_STATES)
    longest = None
    count = 0
    held = None  # start of the hold-over under way
    for i, (t, state) in enumerate(events):
        until = events[i + 1][0] if i + 1 < len(events) else last
        if state in spent and until is not None and until > t:
            spent[state] += until - t
        if state in ("holding over", "lost") and held is None:
            held = t
            count += 1
        elif state not in ("holding over", "lost") and held is not None:
            how = "until in step again" if state == "in step" else "until the run ended"
            if longest is None or t - held > longest[0]:
                longest = (t - held, held, how)
            held = None
    if held is not None and last is not None and (longest is None or last - held > longest[0]):
        longest = (last - held, held, "still at the log's end")
    return spent, longest, count


def close_run(log, port, t, how):
    for run in reversed(log.runs):
        if run[0] == port and run[3] == "open":
            run[2] = t
            run[3] = how
            return


# --- Data file ---------------------------------------------------------------

def parse_data(path):
    """The data file's raw telegrams: counts and the checks the bits fail."""
    res = {"telegrams": 0, "skipped": 0, "start bit": 0, "minute parity": 0, "hour parity": 0,
           "date parity": 0, "first": None, "last": None}
    with open_text(path) as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line:
                continue
            t = stamp_value(line[:19]) if len(line) >= 20 and line[19] == " " else None
            m = RE_DATA.match(line[20:].rstrip(" ") + " ") if t is not None else None
            if not m:
                res["skipped"] += 1
                continue
            bits = m.group(1).replace(" ", "")
            res["telegrams"] += 1
            if res["first"] is None or t < res["first"]:
                res["first"] = t
            if res["last"] is None or t > res["last"]:
                res["last"] = t
            if bits[20] != "1":
                res["start bit"] += 1
            if bits[21:29].count("1") % 2:
                res["minute parity"] += 1
            if bits[29:36].count("1") % 2:
                res["hour parity"] += 1
            if bits[36:59].count("1") % 2:
                res["date parity"] += 1
    return res


# --- Figures -----------------------------------------------------------------

class Stats:
    pass


def compute(log, now, timer_minutes):
    st = Stats()
    n = len(log.poll_t)
    codes = log.poll_code
    st.cut = codes.count(CUT)
    st.polls = n - st.cut
    st.valid = codes.count(VALID)
    st.rejected = st.polls - st.valid
    st.first, st.last = log.first, log.last

    # The timer from the spacing of polls within a run.
    starts = set(log.run_starts)
    spacing = []
    pt = log.poll_t
    for i in range(1, n):
        if i in starts:
            continue
        dt = pt[i] - pt[i - 1]
        if dt > 0:
            spacing.append(dt)
    st.spacing = median(spacing) if spacing else None
    if timer_minutes is not None:
        st.timer = timer_minutes
        st.timer_source = "given"
    elif st.spacing is not None:
        st.timer = int(round(st.spacing / 60.0)) if st.spacing >= 30 else 0
        st.timer_source = "inferred"
    else:
        st.timer = None
        st.timer_source = "unknown"
    base = st.timer * 60.0 if st.timer else 0.0
    if st.spacing is not None:
        base = max(base, st.spacing)
    st.window = 3 * base if base else None

    # Valid runs and gaps, in the order of the log.
    best_len, best_from, best_to = 0, None, None
    cur_len, cur_from = 0, None
    prev_valid = None
    gap, gap_from, gap_to = 0.0, None, None
    if st.first is not None and n:
        prev_valid = st.first
    for i in range(n):
        if i in starts:
            cur_len = 0
        c = codes[i]
        if c == VALID:
            t = pt[i]
            if cur_len == 0:
                cur_from = t
            cur_len += 1
            if cur_len > best_len:
                best_len, best_from, best_to = cur_len, cur_from, t
            if prev_valid is not None and t - prev_valid > gap:
                gap, gap_from, gap_to = t - prev_valid, prev_valid, t
            prev_valid = t
        elif c != CUT:
            cur_len = 0
    if prev_valid is not None and st.last is not None and st.last - prev_valid > gap:
        gap, gap_from, gap_to = st.last - prev_valid, prev_valid, st.last
    st.run = (best_len, best_from, best_to)
    st.gap = (gap, gap_from, gap_to)

    diffs = [d for d in log.poll_diff if d == d]
    st.diff_n = len(diffs)
    if diffs:
        st.diff_median = median(diffs)
        st.diff_mean = math.fsum(diffs) / len(diffs)
        st.diff_rms = math.sqrt(math.fsum(d * d for d in diffs) / len(diffs))
        st.diff_worst = max(diffs, key=abs)
    else:
        st.diff_median = st.diff_mean = st.diff_rms = st.diff_worst = NAN
    steps = [s for s in log.set_step if s == s]
    st.sets = len(log.set_t)
    st.set_median = median([abs(s) for s in steps]) if steps else NAN
    st.set_worst = max(steps, key=abs) if steps else NAN

    # Runs of the program.
    st.now = now
    last_run = log.runs[-1] if log.runs else None
    st.running = False
    if last_run is not None and last_run[3] == "open":
        idle = now - (log.last_line_t if log.last_line_t is not None else last_run[1])
        limit = max(st.window or 0, 180.0)
        st.running = -60 <= idle <= limit
    st.no_close = sum(1 for r in log.runs if r[3] in ("open", "no close line"))
    if st.running:
        st.no_close -= 1
    return st


def summary(log, st, data, chart):
    out = []
    w = out.append
    now = st.now
    names = [p for p, _ in log.files]
    w("dcfreport %s: %d file%s, %d lines: %s" % (VERSION, len(names), "" if len(names) == 1 else "s",
                                                log.lines, ", ".join(names)))
    w("")
    w("== Status ==")
    if log.last_valid:
        t, tel, diff, cvt = log.last_valid
        w("last valid telegram: %s (%s), telegram %s, time diff %s" % (
            stamp_text(t), ago(now, t), tel or "-", ms_text(diff)))
    else:
        w("last valid telegram: none")
    cvt = log.cvt if log.cvt is not None else 0
    why = ""
    if log.cvt_reset_by is not None and cvt == 0:
        why = " (reset by %s at %s)" % (log.cvt_reset_by[1], stamp_text(log.cvt_reset_by[0]))
    w("ContValidTime: %d%s" % (cvt, why))
    if log.last_set:
        t, to, step = log.last_set
        w("last clock set: %s (%s) to %s, step %s" % (stamp_text(t), ago(now, t), to,
                                                      ms_text(step)))
    else:
        w("last clock set: none")
    if st.window is not None and st.timer is not None:
        within = "3 x timer = %s" % duration_text(st.window)
    else:
        within = "3 x timer (timer unknown)"
    if log.last_valid and st.window is not None and -60 <= now - log.last_valid[0] <= st.window:
        w("clock kept: yes, a valid telegram within the last %s" % within)
    elif log.last_valid:
        w("clock kept: no, no valid telegram since %s (%s; %s)" % (
            stamp_text(log.last_valid[0]), ago(now, log.last_valid[0]), within))
    else:
        w("clock kept: no, no valid telegram in the log")
    w("")
    w("== Reception ==")
    if st.first is not None:
        w("span: %s to %s (%s)" % (stamp_text(st.first), stamp_text(st.last),
                                    duration_text(st.last - st.first)))
    else:
        w("span: none")
    w("lines: %d read, %d dcfsync messages, %d skipped (foreign or garbled), %d unrecognised, "
      "%d blank, %d outside --since/--until" % (log.lines, log.parsed, log.skipped, log.unknown,
                                               log.blank, log.out_of_range))
    for path, number, text in log.skipped_examples:
        w("skipped line: %s:%d: %r" % (path, number, text))
    for path, text in log.read_errors:
        w("read error: %s: %s (the lines before it are counted)" % (path, text))
    if log.steps_back:
        w("time steps back: %d, the largest %s (clock sets, DST ends, or lines of other runs)"
          % (log.steps_back, duration_text(log.largest_step_back)))
    if st.timer is None:
        w("timer: unknown (fewer than two polls in a run)")
    elif st.timer == 0:
        w("timer: 0 min (polling without pause, a poll every %s; %s)" % (
            duration_text(st.spacing) if st.spacing else "?", st.timer_source))
    else:
        w("timer: %d min (%s%s)" % (st.timer, st.timer_source,
                                   ", median spacing %s" % duration_text(st.spacing) if st.spacing else ""))
    w("polls: %d" % st.polls)
    w("answers: %d" % log.answers)
    w("valid telegrams: %d (%s)" % (st.valid, percent(st.valid, st.polls)))
    w("rejected polls: %d (%s)" % (st.rejected, percent(st.rejected, st.polls)))
    for code, key, _, _ in REASONS:
        w("reason %s: %d" % (key, len(log.reason_t[code])))
    w("reason Big difference: %d (valid, too far off to set)" % len(log.big_t))
    w("polls cut off: %d (the run or the log ended in the middle of the poll)" % st.cut)
    if log.orphans:
        w("poll lines without their start: %d" % log.orphans)
    best_len, best_from, best_to = st.run
    if best_len:
        w("longest valid run: %d polls, %s to %s (%s)" % (best_len, stamp_text(best_from),
                                                           stamp_text(best_to),
                                                           duration_text(best_to - best_from)))
    else:
        w("longest valid run: 0 polls")
    gap, gap_from, gap_to = st.gap
    if gap_from is not None:
        w("longest gap without a valid telegram: %s, %s to %s" % (duration_text(gap),
                                                                  stamp_text(gap_from),
                                                                  stamp_text(gap_to)))
    else:
        w("longest gap without a valid telegram: none")
    w("highest ContValidTime: %d" % log.max_cvt)
    w("")
    w("== Time differences (PC - DCF77, + means the PC is ahead) ==")
    w("time diffs: %d" % st.diff_n)
    w("time diff median: %s" % ms_text(st.diff_median))
    w("time diff mean: %s" % ms_text(st.diff_mean))
    w("time diff RMS: %s" % (("%.1f ms" % st.diff_rms) if st.diff_n else "-"))
    w("time diff worst: %s" % ms_text(st.diff_worst))
    refused = ""
    if log.set_refused:
        refused = ", refused %d (%s)" % (log.set_refused, ", ".join(
            "errno %d x%d" % kv for kv in sorted(log.set_errnos.items())))
    w("clock sets: %d%s" % (st.sets, refused))
    w("clock set median step: %s" % (("%.1f ms" % st.set_median) if st.set_median == st.set_median
                                     else "-"))
    w("clock set worst step: %s" % ms_text(st.set_worst))
    w("")
    w("== Runs ==")
    w("starts: %d (port opened %d, not opened %d)" % (log.opened + log.not_opened, log.opened,
                                                      log.not_opened))
    texts = ""
    if log.not_configured_texts:
        texts = " (%s)" % "; ".join(log.not_configured_texts)
    w("port not configured: %d%s" % (log.not_configured, texts))
    w("identification failed: %d" % log.ident_failed)
    for text, count in sorted(log.idents.items(), key=lambda kv: -kv[1])[:3]:
        w("module identified: %s x%d" % (text, count))
    w("closed: %d" % log.closed)
    w("can't close: %d" % log.cant_close)
    w("ended without a closed line: %d (Ctrl-C, killed or power lost)" % st.no_close)
    if st.running:
        w("running: yes, the last run (since %s) logged %s" % (
            stamp_text(log.runs[-1][1]), ago(now, log.last_line_t)))
    else:
        w("running: no")
    w("ended normally (exit status 0): %d" % max(0, log.closed + log.cant_close -
                                                   log.returns_after_close))
    w("exit statuses: %s" % (", ".join("%d x%d" % kv for kv in sorted(log.returns.items()))
                             if log.returns else "none logged"))
    if log.ctrl_c_lines:
        w("Ctrl-C lines: %d (from a console capture)" % log.ctrl_c_lines)
    if log.settings_missing or log.settings_read_errors:
        w("settings file problems: %d not found, %d read errors" % (log.settings_missing,
                                                                     log.settings_read_errors))
    if len(log.disc_t) or log.disc_refused or log.adjust_refused:
        w("")
        w("== Clock discipline ==")
        n = len(log.disc_t)
        w("corrections: %d, samples dropped: %d" % (n, log.disc_dropped))
        if n:
            offsets = [abs(o) for o in log.disc_offset]
            w("offset: last %s, median %.1f ms, worst %s" % (
                ms_text(log.disc_offset[-1]), median(offsets),
                ms_text(max(log.disc_offset, key=abs))))
            w("frequency: last %+.1f ppm, from %+.1f to %+.1f ppm" % (
                log.disc_freq[-1], min(log.disc_freq), max(log.disc_freq)))
        if log.adjust_refused:
            w("adjustments refused: %d" % log.adjust_refused)
        if log.drift_problems:
            w("drift file problems: %d" % log.drift_problems)
        if log.disc_refused:
            w("refused beside a time daemon's feed: %d" % log.disc_refused)
    if log.reception:
        spent, longest, holds = reception_times(log.reception, log.last)
        whole = sum(spent.values())
        w("")
        w("== Reception states (from the log's state lines) ==")
        w(", ".join("%s: %s (%s)" % (n, duration_text(spent[n]), percent(spent[n], whole))
                    for n in RECEPTION_STATES))
        if longest is not None:
            w("hold-overs: %d, longest %s from %s (%s)" % (holds, duration_text(longest[0]),
                                                          stamp_text(longest[1]), longest[2]))
        else:
            w("hold-overs: none")
    if data is not None:
        w("")
        w("== Data file ==")
        w("data telegrams: %d (%s to %s), %d lines skipped" % (
            data["telegrams"], stamp_text(data["first"]), stamp_text(data["last"]), data["skipped"]))
        w("data failed checks: start bit %d, minute parity %d, hour parity %d, date parity %d" % (
            data["start bit"], data["minute parity"], data["hour parity"], data["date parity"]))
    if chart:
        w("")
        w("chart: %s" % chart)
    return "\n".join(out) + "\n"


# --- Chart -------------------------------------------------------------------

SYMLOG_TICKS = [(1, "1 ms"), (10, "10 ms"), (100, "100 ms"), (1000, "1 s"), (10000, "10 s"),
                (60000, "1 min"), (600000, "10 min"), (3600000, "1 h"), (36000000, "10 h"),
                (86400000, "1 d"), (864000000, "10 d"), (8640000000, "100 d")]


BIN_WIDTHS = [(10.0, "10 s"), (60.0, "minute"), (300.0, "5 min"), (600.0, "10 min"),
              (3600.0, "hour"), (86400.0, "day"), (7 * 86400.0, "week")]
# Spans longer than this draw the time difference as a band per bin.
BAND_SPAN = 4 * 86400.0
SHORT_REASONS = ["Receive error", "Bad data", "start bit", "marks", "minute parity", "hour parity",
                 "date parity"]


def bar_colour(p):
    """Red below 50 %, through yellow, to green at 100 %."""
    p = max(0.0, min(1.0, p))
    if p < 0.5:
        return (0.84, 0.19 + 0.6 * p * 2, 0.15)
    q = (p - 0.5) * 2
    return (0.84 - 0.66 * q, 0.79 - 0.19 * q, 0.15 + 0.1 * q)


def draw_chart(log, st, path, title_files):
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib.figure import Figure
    import matplotlib.dates as mdates
    from matplotlib.collections import PolyCollection
    from matplotlib.colors import to_rgb
    from matplotlib.ticker import FixedLocator, FixedFormatter, FuncFormatter, NullLocator

    x0 = mdates.date2num(datetime.datetime(1970, 1, 1))

    def xs(times):
        return [x0 + t / 86400.0 for t in times]

    n = len(log.poll_t)
    pt, pd, pc = log.poll_t, log.poll_diff, log.poll_code
    span = (st.last - st.first) if st.first is not None else 0.0
    rows = [(log.reason_t[code], short, colour) for (code, _, _, colour), short in
            zip(REASONS, SHORT_REASONS) if len(log.reason_t[code])]
    if len(log.big_t):
        rows.append((log.big_t, "Big difference", BIG_COLOUR))

    fig = Figure(figsize=(14, 8), dpi=100)
    disc = len(log.disc_t) > 0
    if disc:
        # A panel of the clock discipline's corrections between the two.
        outer = fig.add_gridspec(3, 1, height_ratios=[3.0, 1.1, 1.0], hspace=0.14, left=0.13,
                                 right=0.93, top=0.9, bottom=0.08)
    else:
        outer = fig.add_gridspec(2, 1, height_ratios=[3.4, 1.1], hspace=0.14, left=0.13,
                                 right=0.98, top=0.9, bottom=0.08)
    strip = 0.16 * max(1, len(rows))
    inner = outer[0].subgridspec(2, 1, height_ratios=[3.0, strip], hspace=0.0)
    ax = fig.add_subplot(inner[0])
    rx = fig.add_subplot(inner[1], sharex=ax)
    if disc:
        dx = fig.add_subplot(outer[1], sharex=ax)
        bx = fig.add_subplot(outer[2], sharex=ax)
    else:
        bx = fig.add_subplot(outer[1], sharex=ax)
    files = ", ".join(os.path.basename(p) for p in title_files)
    if len(files) > 70:
        files = "%s and %d more" % (os.path.basename(title_files[-1]), len(title_files) - 1)
    fig.suptitle("dcfsync reception %s to %s (%s), %s\n%d polls, %s valid, %d clock set%s" % (
        stamp_text(st.first)[:16], stamp_text(st.last)[:16], duration_text(span), files,
        st.polls, percent(st.valid, st.polls), st.sets, "" if st.sets == 1 else "s"), fontsize=12)

    # Top: the differences on a symmetric log scale, and the clock sets.
    # Masks of the outcomes, made at C speed: 1 where valid, 1 where complete.
    valid_mask = pc.translate(bytes([1] + [0] * 255))
    done_mask = pc.translate(bytes([1] * CUT + [0] + [1] * (255 - CUT)))
    vt = list(compress(pt, valid_mask))
    vd = list(compress(pd, valid_mask))
    worst = max([abs(d) for d in vd] + [abs(s) for s in log.set_step if s == s] + [20.0])
    limit = worst * 2.5
    ax.set_yscale("symlog", linthresh=1.0, linscale=0.25)
    ax.set_ylim(-limit, limit)
    ticks, labels = [0.0], ["0"]
    # Labels kept apart: at least a ninth of the decades shown between two.
    decades = math.log10(limit)
    gap = max(0.9, decades / 9.0)
    shown = []
    for value, text in reversed([(v, t) for v, t in SYMLOG_TICKS if v <= limit]):
        if not shown or math.log10(shown[-1][0]) - math.log10(value) >= gap - 1e-9:
            shown.append((value, text))
    if decades > 4.5:
        shown = [(v, t) for v, t in shown if v > 1]  # +-1 ms would sit on 0
    for value, text in shown:
        ticks += [value, -value]
        labels += ["+" + text, "-" + text]
    ax.yaxis.set_major_locator(FixedLocator(ticks))
    ax.yaxis.set_major_formatter(FixedFormatter(labels))
    ax.yaxis.set_minor_locator(NullLocator())
    ax.axhline(0, color="#444444", linewidth=0.8, zorder=1)
    ax.grid(True, which="major", axis="both", color="#dddddd", linewidth=0.6, zorder=0)
    ax.set_ylabel("time diff PC - DCF77\n(+: PC ahead)")
    handles = []
    many = len(vt) > 20000
    if vt and span > BAND_SPAN:
        # A long span: a band per bin (5 to 95 %), its median and its worst,
        # instead of a dot a poll that would run into one blob.
        least = span / 400.0
        for width, _ in BIN_WIDTHS:
            if width >= least:
                break
        bins = {}
        for t, d in zip(vt, vd):
            bins.setdefault(int(t // width), []).append(d)
        keys = sorted(bins)
        mids, lo5, hi95, mid, worst_d = [], [], [], [], []
        for k in keys:
            values = sorted(bins[k])
            m = len(values)
            mids.append(x0 + (k + 0.5) * width / 86400.0)
            lo5.append(values[int(0.05 * (m - 1) + 0.5)])
            hi95.append(values[int(0.95 * (m - 1) + 0.5)])
            mid.append(median(values))
            worst_d.append(max(values[0], values[-1], key=abs))
        band = ax.fill_between(mids, lo5, hi95, color="#9ecae1", linewidth=0, zorder=2,
                               label="time diff 5 to 95 %% per %s (%d valid)" % (
                                   dict(BIN_WIDTHS)[width], len(vt)))
        line, = ax.plot(mids, mid, color="#1f77b4", linewidth=1.0, zorder=3, label="median")
        dots, = ax.plot(mids, worst_d, linestyle="none", marker="o", markersize=2.5,
                        markeredgewidth=0, color="#08306b", zorder=3, label="worst")
        handles += [band, line, dots]
        many = False
    elif vt:
        size = 4 if len(vt) < 2000 else (2.5 if len(vt) < 30000 else 1.5)
        line, = ax.plot(xs(vt), vd, linestyle="none", marker="o", markersize=size,
                        markeredgewidth=0, color="#1f77b4", label="time diff (%d valid)" % len(vt),
                        rasterized=many, zorder=3)
        handles.append(line)
    if len(log.set_t):
        sx = xs(log.set_t)
        sy = [s if s == s else 0.0 for s in log.set_step]
        few = len(sx) <= 300
        if few:
            for x in sx:
                ax.axvline(x, color="#000000", alpha=0.12, linewidth=0.8, zorder=2)
        line, = ax.plot(sx, sy, linestyle="none", marker="v", markersize=7 if few else 4,
                        markerfacecolor="none", markeredgecolor="#000000",
                        markeredgewidth=1.1 if few else 0.5, alpha=1.0 if few else 0.6,
                        label="clock set, at its step (%d)" % len(sx),
                        rasterized=len(sx) > 20000, zorder=4)
        handles.append(line)
    if handles:
        ax.legend(handles=handles, loc="lower right", bbox_to_anchor=(1.0, 1.0), ncol=2,
                  fontsize=9, frameon=False, borderaxespad=0.2, markerscale=2.0 if many else 1.0)
    if not n:
        ax.text(0.5, 0.5, "no polls in the log", transform=ax.transAxes, ha="center",
                va="center", fontsize=14, color="#888888")
    ax.tick_params(labelbottom=False)

    # Below it: the rejected polls, one row of ticks a reason; where ticks
    # would run together, the share of polls rejected so, as shade.
    rx.set_ylim(max(len(rows), 1) - 0.5, -0.5)
    rx.set_yticks(range(len(rows)))
    rx.set_yticklabels(["%s (%d)" % (key, len(tt)) for tt, key, _ in rows], fontsize=8)
    for lab, (_, _, colour) in zip(rx.get_yticklabels(), rows):
        lab.set_color(colour)
    rx.tick_params(axis="y", length=0, labelbottom=False)
    rx.tick_params(labelbottom=False)
    rx.grid(True, axis="x", color="#dddddd", linewidth=0.6)
    if not rows:
        rx.text(0.5, 0.5, "no rejected polls", transform=rx.transAxes, ha="center",
                va="center", fontsize=9, color="#888888")
        rx.set_yticks([])
    cells = 700
    counts = None
    first = st.first
    for r, (tt, key, colour) in enumerate(rows):
        if len(tt) <= 1500 or span <= 0:
            rx.plot(xs(tt), [r] * len(tt), linestyle="none", marker="|", markersize=9,
                    markeredgewidth=1.2, color=colour, zorder=3)
            continue
        scale = cells / float(span)
        if counts is None:
            counts = [0] * cells
            for k, m in Counter([int((t - first) * scale) for t in pt]).items():
                counts[min(max(k, 0), cells - 1)] += m
        hits = [0] * cells
        for k, m in Counter([int((t - first) * scale) for t in tt]).items():
            hits[min(max(k, 0), cells - 1)] += m
        rgb = to_rgb(colour)
        image = [[(rgb[0], rgb[1], rgb[2],
                   0.0 if not h else min(1.0, 0.25 + 3.0 * h / max(counts[k], 1)))
                  for k, h in enumerate(hits)]]
        rx.imshow(image, aspect="auto", interpolation="nearest", zorder=3,
                  extent=(x0 + st.first / 86400.0, x0 + (st.first + span) / 86400.0, r + 0.4, r - 0.4))
    rx.set_ylim(max(len(rows), 1) - 0.5, -0.5)

    # The clock discipline: the offset it slews away at each correction, and
    # the frequency correction in force (right-hand scale).
    if disc:
        dt = xs(log.disc_t)
        offsets = list(log.disc_offset)
        limit = max([abs(o) for o in offsets] + [1.0]) * 1.2
        dx.plot(dt, offsets, linestyle="none", marker="o", markersize=2.5 if len(dt) < 5000 else 1.2,
                markeredgewidth=0, color="#2ca02c", rasterized=len(dt) > 20000, zorder=3)
        dx.set_ylim(-limit, limit)
        dx.axhline(0, color="#444444", linewidth=0.8, zorder=1)
        dx.set_ylabel("discipline offset\nms (green)", color="#2ca02c")
        dx.grid(True, axis="both", color="#dddddd", linewidth=0.6, zorder=0)
        dx.tick_params(labelbottom=False)
        fx = dx.twinx()
        fx.plot(dt, list(log.disc_freq), color="#d62728", linewidth=1.0, drawstyle="steps-post",
                zorder=4)
        fx.set_ylabel("frequency\nppm (red)", color="#d62728")
        dx.xaxis.get_offset_text().set_visible(False)

    # Bottom: reception per bin as bars, grey the polls, coloured the share valid.
    # Bins of about ten polls at least, and no more than about 500 of them:
    # 10 minutes for an hour of minute polls, hours for days, days for a year.
    least = max(span / 500.0, 10.0 * (st.spacing or 0.0))
    for width, unit in BIN_WIDTHS:
        if width >= least:
            break
    cell = [int(t // width) for t in pt]
    polled = Counter(compress(cell, done_mask))
    valid = Counter(compress(cell, valid_mask))
    keys = sorted(polled)
    if keys:
        # Two collections of rectangles: far quicker than a patch a bar.
        left = [x0 + k * width / 86400.0 for k in keys]
        share = [100.0 * valid.get(k, 0) / polled[k] for k in keys]
        w_days = width / 86400.0 * 0.9
        bx.add_collection(PolyCollection(
            [((x, 0), (x, 100), (x + w_days, 100), (x + w_days, 0)) for x in left],
            facecolors="#e3e3e3", linewidths=0, zorder=1))
        bx.add_collection(PolyCollection(
            [((x, 0), (x, h), (x + w_days, h), (x + w_days, 0)) for x, h in zip(left, share)],
            facecolors=[bar_colour(h / 100.0) for h in share], linewidths=0, zorder=2))
    bx.set_ylim(0, 100)
    bx.set_yticks([0, 50, 100])
    bx.yaxis.set_major_formatter(FuncFormatter(lambda v, _: "%d %%" % v))
    bx.set_ylabel("valid per %s\n(grey: polled)" % unit)
    bx.grid(True, axis="y", color="#dddddd", linewidth=0.6, zorder=0)
    locator = mdates.AutoDateLocator(minticks=5, maxticks=14)
    bx.xaxis.set_major_locator(locator)
    bx.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
    ax.xaxis.get_offset_text().set_visible(False)
    rx.xaxis.get_offset_text().set_visible(False)
    bx.set_xlabel("local time of logging")
    if st.first is not None:
        pad = max(span * 0.01, 1.0)
        lo, hi = st.first - pad, st.last + pad
        if keys and width <= 3600:
            lo = min(lo, keys[0] * width)
            hi = max(hi, (keys[-1] + 1) * width)
        ax.set_xlim(x0 + lo / 86400.0, x0 + hi / 86400.0)
    fmt = "svg" if path.lower().endswith(".svg") else "png"
    fig.savefig(path, format=fmt)


# --- Main --------------------------------------------------------------------

def main(argv=None):
    try:
        sys.stdout.reconfigure(errors="replace")
    except (AttributeError, ValueError):
        pass
    ap = argparse.ArgumentParser(
        prog="dcfreport",
        description="Summary and chart of dcfsync's reception, read from its log.",
        epilog="Exit status: 0 done, 1 no dcfsync log line in the input, 2 usage error or a file "
               "that cannot be opened, 3 summary printed but the chart not written.")
    ap.add_argument("logs", nargs="+", metavar="LOGFILE",
                    help="dcfsync log(s), also rotated and compressed (.gz, .bz2, .xz); '-' reads "
                         "standard input")
    ap.add_argument("--data", metavar="DATFILE", help="dcfsync's data file of raw telegrams")
    ap.add_argument("-o", "--output", metavar="FILE", default="dcfreport.png",
                    help="chart file, PNG or SVG by its name (default: dcfreport.png)")
    ap.add_argument("--no-chart", action="store_true", help="print the summary only")
    ap.add_argument("--since", metavar="DATE", type=parse_date_arg,
                    help="only lines from then on (YYYY-MM-DD[ HH:MM[:SS]] or DD.MM.YYYY[ ...])")
    ap.add_argument("--until", metavar="DATE", type=lambda s: parse_date_arg(s, end=True),
                    help="only lines before then (a bare date includes that day)")
    ap.add_argument("--timer", metavar="MINUTES", type=int,
                    help="dcfsync's timer setting (default: inferred from the poll spacing)")
    ap.add_argument("--now", metavar="DATE", type=parse_date_arg,
                    help="the time to measure 'ago' from (default: the local time now)")
    ap.add_argument("--version", action="version", version="dcfreport " + VERSION)
    args = ap.parse_args(argv)
    if args.timer is not None and args.timer < 0:
        ap.error("--timer must be 0 or more")
    if args.since is not None and args.until is not None and args.until <= args.since:
        ap.error("--until must come after --since")
    for path in args.logs + ([args.data] if args.data else []):
        if path != "-" and not os.path.isfile(path):
            sys.stderr.write("dcfreport: no such file: %s\n" % path)
            return 2
    try:
        log = parse_log(args.logs, args.since, args.until)
    except SystemExit as e:
        sys.stderr.write("%s\n" % e)
        return 2
    if log.parsed == 0:
        what = "empty" if log.lines == 0 else "no dcfsync log line among %d lines" % log.lines
        if log.out_of_range:
            what = "no log line between --since and --until (%d lines outside)" % log.out_of_range
        sys.stderr.write("dcfreport: nothing to report: %s in %s\n" % (what, ", ".join(args.logs)))
        return 1
    data = None
    if args.data:
        try:
            data = parse_data(args.data)
        except READ_ERRORS as e:
            sys.stderr.write("dcfreport: cannot read %s: %s\n" % (args.data, e))
            return 2
    if args.now is not None:
        now = args.now
    else:
        d = datetime.datetime.now()
        now = (d - datetime.datetime(1970, 1, 1)).total_seconds()
    st = compute(log, now, args.timer)
    chart = None if args.no_chart else args.output
    status = 0
    if chart:
        try:
            draw_chart(log, st, chart, [p for p, _ in log.files])
        except ImportError as e:
            sys.stderr.write("dcfreport: no chart: matplotlib is missing (%s); on Debian install "
                             "python3-matplotlib, elsewhere 'pip install matplotlib'\n" % e)
            chart, status = None, 3
        except (OSError, ValueError) as e:
            sys.stderr.write("dcfreport: no chart: cannot write %s: %s\n" % (args.output, e))
            chart, status = None, 3
    sys.stdout.write(summary(log, st, data, chart))
    sys.stdout.flush()
    return status


if __name__ == "__main__":
    sys.exit(main())
