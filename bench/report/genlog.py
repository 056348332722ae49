#!/usr/bin/python3
"""Writes a made-up dcfsync log: minute polls of a raw-telegram receiver for
a given time, with what a year on a real PC brings.

  genlog.py [-o FILE] [--days N | --hours N] [--start YYYY-MM-DD] [--seed N]

The lines are the program's own (see src/): the answer's hex dump, the flag
and date lines, the failed checks, "Time diff" with ContValidTime, clock sets
once three valid telegrams agree and the PC is 100 ms or more off. The log is
stamped with the PC's local time (German legal time, so one hour is missing
in March and one comes twice in October), which steps back when the clock is
set back. Over the time written:

  - reception better at night than by day, a few stormy days, interference
    on some afternoons: parity errors, bad marks, incomplete telegrams;
  - the PC clock drifting by about 1.5 s a day, set back by dcfsync;
  - a reboot every week (no "closed" line: the program was not stopped), a
    second start on the busy port now and then ("not opened", status 254);
  - the receiver unplugged for two days (only "Receive error!");
  - once a PC that booted three hours fast, and once a day off (Big
    difference, not set until the next reboot).

Deterministic for a seed. Prints the counts of what it wrote to stderr.
"""

import argparse
import datetime
import random
import sys

WEEKDAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]


def last_sunday(year, month):
    d = datetime.date(year, month, 31)
    return d - datetime.timedelta(days=(d.weekday() + 1) % 7)


def local_offset(utc):
    """German legal time's offset from UTC in hours at a naive UTC datetime."""
    y = utc.year
    start = datetime.datetime.combine(last_sunday(y, 3), datetime.time(1))
    end = datetime.datetime.combine(last_sunday(y, 10), datetime.time(1))
    return 2 if start <= utc < end else 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("-o", "--output", default="-")
    g = ap.add_mutually_exclusive_group()
    g.add_argument("--days", type=float, default=365.0)
    g.add_argument("--hours", type=float)
    ap.add_argument("--start", default="2025-01-01")
    ap.add_argument("--seed", type=int, default=77)
    ap.add_argument("--port", default="/dev/ttyUSB0")
    args = ap.parse_args()
    minutes = int(round((args.hours * 60) if args.hours is not None else args.days * 1440))
    rnd = random.Random(args.seed)
    out = sys.stdout if args.output == "-" else open(args.output, "w", newline="\n")
    start = datetime.datetime.strptime(args.start, "%Y-%m-%d")
    start_utc = start - datetime.timedelta(hours=local_offset(start))
    days = max(1, minutes // 1440)

    # The year's events, by day (from the start).
    stormy = set(rnd.sample(range(days), min(days, 12))) if days > 20 else set()
    unplugged = set()
    if days > 60:
        d = rnd.randrange(30, days - 10)
        unplugged = {d, d + 1}
    fast_boot = rnd.randrange(days // 3, days // 2) if days > 60 else None
    day_off = rnd.randrange(days // 2, days - 5) if days > 60 else None

    counts = dict(polls=0, valid=0, sets=0, receive=0, baddata=0, marks=0, minute=0, hour=0,
                  date=0, start=0, big=0, runs=0, notopened=0, lines=0)
    w = out.write
    offset = rnd.uniform(-0.05, 0.05)   # PC - true time, seconds
    drift = 1.5 / 86400.0               # seconds per second
    cvt = 0
    last_minute = None
    prev_stamp_utc = None
    reboot_every = 7 * 1440
    big_pending = False

    def stamp(utc_true):
        pc = utc_true + datetime.timedelta(seconds=offset)
        local = pc + datetime.timedelta(hours=local_offset(pc))
        return local.strftime("%d.%m.%Y %H:%M:%S ")

    def run_start(utc_true):
        nonlocal cvt, last_minute
        s = stamp(utc_true)
        w(s + args.port + " opened\n")
        w(stamp(utc_true + datetime.timedelta(seconds=2)) + "DCF77 V2.1<CR><LF>\n")
        counts["runs"] += 1
        counts["lines"] += 2
        cvt = 0
        last_minute = None

    run_start(start_utc)
    for k in range(minutes):
        utc = start_utc + datetime.timedelta(seconds=60 * k + 3)
        day = k // 1440
        if k and k % reboot_every == 0:
            # A reboot: the run stops without a line; the PC comes back later.
            if fast_boot is not None and day >= fast_boot:
                offset = 3 * 3600 + rnd.uniform(0, 60)
                fast_boot = None
            elif day_off is not None and day >= day_off:
                offset = 86400 + 7.25
                big_pending = True
                day_off = None
            else:
                if big_pending:
                    offset = rnd.uniform(-0.5, 0.5)
                    big_pending = False
                offset += rnd.uniform(-0.3, 0.3)
            run_start(utc - datetime.timedelta(seconds=2))
        if k % 4327 == 1000:
            s = stamp(utc - datetime.timedelta(seconds=1))
            w(s + args.port + " not opened\n")
            w(stamp(utc + datetime.timedelta(seconds=4)) + "Return errno 254\n")
            counts["notopened"] += 1
            counts["lines"] += 2
        offset += drift * 60
        s = stamp(utc)
        counts["polls"] += 1
        local_true = utc + datetime.timedelta(hours=local_offset(utc))
        hour = local_true.hour
        if day in unplugged:
            w(s + "Receive error!\n")
            counts["receive"] += 1
            counts["lines"] += 1
            continue
        p_bad = 0.03 if hour < 6 or hour >= 22 else 0.12
        if day in stormy:
            p_bad = 0.6
        elif 14 <= hour < 17 and day % 5 == 2:
            p_bad = 0.45
        r = rnd.random()
        if r < 0.01:
            w(s + "Receive error!\n")
            counts["receive"] += 1
            counts["lines"] += 1
            continue
        sec = rnd.randrange(0, 59)
        hund = rnd.randrange(0, 100)
        bits = "%02X %02X %02X %02X %02X %02X %02X %02X" % tuple(rnd.randrange(256) for _ in range(8))
        bad = rnd.random() < p_bad
        incomplete = bad and rnd.random() < 0.15
        marks = bad and not incomplete and rnd.random() < 0.25
        w("%s%02X %02X 00 00 00 00 00 00 00 00 00 00 00 %s 00 00 %s %02X 00 \n" % (
            s, 1 if marks else 0, sec, "25" if incomplete else "3B", bits, hund))
        counts["lines"] += 1
        tel = local_true.replace(second=sec, microsecond=hund * 10000)
        teltext = "%s %s" % (tel.strftime("%H:%M:%S.") + "%03d" % (hund * 10),
                             tel.strftime("%d.%m.%Y ") + WEEKDAYS[tel.weekday()])
        cest = local_offset(utc) == 2
        flags = "R:0 A1:0 Z1:%d Z2:%d A2:0 S:1" % (1 if cest else 0, 0 if cest else 1)
        if bad:
            cvt = 0
            last_minute = None
            if incomplete:
                w(s + "Bad data!\n")
                counts["baddata"] += 1
                counts["lines"] += 1
                continue
            reasons = []
            if rnd.random() < 0.01:
                reasons.append(("start", "Bad start bit!"))
            if marks:
                reasons.append(("marks", "Bad marks in new minute!"))
            if not marks or rnd.random() < 0.3:
                reasons.append(rnd.choice([("minute", "Bad minute parity!"), ("hour", "Bad hour parity!"),
                                           ("date", "Bad date parity!"), ("minute", "Bad minute parity!")]))
            for key, text in reasons:
                w(s + text + "\n")
                counts[key] += 1
            w(s + flags + "\n" + s + teltext + "\n")
            counts["lines"] += len(reasons) + 2
            continue
        minute = (tel.year, tel.month, tel.day, tel.hour, tel.minute)
        if minute != last_minute:
            cvt += 1
            last_minute = minute
        diff = offset + rnd.gauss(0.03, 0.012)   # the answer's way adds a little
        ms = int(round(abs(diff) * 1000))
        sign = "-" if diff >= 0 else ""
        dd, rest = divmod(ms, 86400000)
        hh, rest = divmod(rest, 3600000)
        mm, rest = divmod(rest, 60000)
        ss, mmm = divmod(rest, 1000)
        w("%s%s\n%s%s\n%sTime diff: %s%dd %02d:%02d:%02d.%03d ContValidTime: %d\n" % (
            s, flags, s, teltext, s, sign, dd, hh, mm, ss, mmm, cvt))
        counts["valid"] += 1
        counts["lines"] += 3
        if cvt >= 3 and abs(diff) >= 0.1:
            if abs(diff) > 12 * 3600:
                w(s + "Big difference, can't synchronize time...\n")
                counts["big"] += 1
                counts["lines"] += 1
                continue
            to = utc + datetime.timedelta(seconds=offset - diff)
            to = to + datetime.timedelta(hours=local_offset(to))
            w("%sSynchronizing time to %s.%03d\n" % (s, to.strftime("%d.%m.%Y %H:%M:%S"),
                                                     to.microsecond // 1000))
            counts["sets"] += 1
            counts["lines"] += 1
            offset -= diff
    if out is not sys.stdout:
        out.close()
    sys.stderr.write("genlog: " + ", ".join("%s %d" % kv for kv in counts.items()) + "\n")


if __name__ == "__main__":
    main()
