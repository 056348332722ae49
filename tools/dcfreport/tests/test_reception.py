"""The reception's states read from the log: the time in each and the longest
hold-over, from logs written line by line for each case."""

import pytest

from conftest import run_report

POLL = ["00 3B 00 00 00 B4 86 82 48 9A 04 00 00 3B 00 00 00 B4 86 82 48 9A 04 00 00 00 ",
        "R:0 A1:0 Z1:0 Z2:1 A2:0 S:1", "10:14:00.250 10.12.2026 Thursday"]


def log_text(events):
    """events: (minutes after 10.12.2026 10:00:00, what); what is 'open',
    'close', 'poll N' (a counted telegram, ContValidTime N) or a message."""
    lines = []
    for minutes, what in events:
        s = int(minutes * 60)
        stamp = "10.12.2026 %02d:%02d:%02d " % (10 + s // 3600, s // 60 % 60, s % 60)
        if what == "open":
            texts = ["/dev/ttyUSB0 opened", "DCFSIM 1.0<CR><LF>"]
        elif what == "close":
            texts = ["/dev/ttyUSB0 closed"]
        elif what.startswith("poll "):
            texts = POLL + ["Time diff: 0d 00:00:00.004 ContValidTime: %s" % what[5:]]
        else:
            texts = [what]
        lines += [stamp + t for t in texts]
    return "\n".join(lines) + "\n"


CASES = [
    ("always in step",
     [(0, "open"), (1, "poll 1"), (2, "poll 2"), (60, "poll 3"), (60, "close")],
     "starting: 1 min 0 s (1.7 %), in step: 59 min 0 s (98.3 %), holding over: 0.0 s (0.0 %), "
     "lost: 0.0 s (0.0 %)",
     "hold-overs: none"),
    ("a hold-over, back in step",
     [(0, "open"), (0, "poll 1"), (16, "Reception holding over: no trusted telegram for 15 min"),
      (30, "Reception in step again after 30 min without a trusted telegram"), (30, "poll 1"),
      (60, "close")],
     "starting: 0.0 s (0.0 %), in step: 46 min 0 s (76.7 %), holding over: 14 min 0 s (23.3 %), "
     "lost: 0.0 s (0.0 %)",
     "hold-overs: 1, longest 14 min 0 s from 10.12.2026 10:16:00 (until in step again)"),
    ("two hold-overs, the longer into lost, the run ends lost",
     [(0, "open"), (0, "poll 1"), (15, "Reception holding over: no trusted telegram for 15 min"),
      (20, "Reception in step again after 20 min without a trusted telegram"),
      (35, "Reception holding over: no trusted telegram for 15 min"),
      (140, "Reception lost: no trusted telegram for 2 h 0 min"), (200, "close")],
     "starting: 0.0 s (0.0 %), in step: 30 min 0 s (15.0 %), holding over: 1 h 50 min (55.0 %), "
     "lost: 1 h 0 min (30.0 %)",
     "hold-overs: 2, longest 2 h 45 min from 10.12.2026 10:35:00 (until the run ended)"),
    ("never a trusted telegram, lost from the start, still at the end",
     [(0, "open"), (120, "Reception lost: no trusted telegram in the first 2 h 0 min"),
      (150, "Receive error!")],
     "starting: 2 h 0 min (80.0 %), in step: 0.0 s (0.0 %), holding over: 0.0 s (0.0 %), "
     "lost: 30 min 0 s (20.0 %)",
     "hold-overs: 1, longest 30 min 0 s from 10.12.2026 12:00:00 (still at the log's end)"),
]


@pytest.mark.parametrize("name,events,times,holds", CASES, ids=[c[0] for c in CASES])
def test_time_in_each_state_and_the_longest_hold_over(tmp_path, name, events, times, holds):
    path = tmp_path / "dcfsync.log"
    path.write_text(log_text(events))
    r = run_report(path, "--no-chart")
    assert r.status == 0, r.err
    lines = r.out.splitlines()
    assert "== Reception states (from the log's state lines) ==" in lines, r.out
    at = lines.index("== Reception states (from the log's state lines) ==")
    assert lines[at + 1] == times
    assert lines[at + 2] == holds


def test_no_run_no_reception_section(tmp_path):
    path = tmp_path / "dcfsync.log"
    path.write_text(log_text([(0, "Can't open file /x/dcfsync.ini")]) +
                    log_text([(1, "/dev/ttyUSB0 not opened")]))
    r = run_report(path, "--no-chart")
    assert "== Reception states (from the log's state lines) ==" not in r.out
