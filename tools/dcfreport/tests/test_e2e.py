"""dcfreport on logs of the real dcfsync run against the receiver simulator
with injected faults: every count in the summary is what was injected.

The program polls without pause (timer=0) and the simulator's --step 60
makes every answer a new minute, so a poll takes about a second. All runs go
on at the same time, each with a simulator and a directory of its own.
"""

import concurrent.futures
import gzip
import os
import re

import pytest

from conftest import Program, run_report

# name: simulator options, settings below "port=", polls to log, whether the
# clock-setting stub records (else it refuses with EPERM), and the injection:
# the telegrams answered well before the fault, and the reason it causes.
SCENARIOS = {
    # ValidDateTimeCount 1: the stepped telegrams never agree with each other,
    # so each sets on its own.
    "sets": (["--offset", "600", "--step", "60"], "DCFSetTime=1\nValidDateTimeCount=1\n", 6, True,
             None, None),
    "parity": (["--step", "60", "--fault", "parity", "--fault-after", "3"], "WriteData=1\n", 7, True,
               3, "Bad minute parity!"),
    "marks": (["--step", "60", "--fault", "marks", "--fault-after", "2"], "", 6, True, 2,
              "Bad marks in new minute!"),
    "incomplete": (["--step", "60", "--fault", "incomplete", "--fault-after", "2"], "", 6, True, 2,
                   "Bad data!"),
    "silent": (["--step", "60", "--fault", "silent", "--fault-after", "2"], "", 5, True, 2,
               "Receive error!"),
    "hangup": (["--step", "60", "--fault", "hangup", "--fault-after", "2"], "", 6, True, 2,
               "Receive error!"),
    "decoded": (["--step", "60", "--fault", "parity", "--fault-after", "1"],
                "TimerGetDecodedTime=1\n", 5, True, 1, "Bad minute parity!"),
    # 50,000 s off: more than SynchronizeMaxDiff's 12 hours.
    "big": (["--offset", "50000", "--step", "60"], "DCFSetTime=1\nValidDateTimeCount=1\n", 4, True,
            None, None),
    "refused": (["--offset", "5", "--step", "60"], "DCFSetTime=1\nValidDateTimeCount=1\n", 4, False,
                None, None),
}
REASONS = ["Receive error!", "Bad data!", "Bad start bit!", "Bad marks in new minute!",
           "Bad minute parity!", "Bad hour parity!", "Bad date parity!"]


class Done:
    """What a scenario left: its directory, log, polls logged and exit status."""

    def __init__(self, program, polls, status):
        self.program = program
        self.dir = program.dir
        self.log_path = program.log_path
        self.log = program.log()
        self.polls = polls
        self.status = status
        self.sets = program.sets_recorded()


def run_scenario(program, scenario):
    sim, settings, polls, record, _, _ = scenario
    try:
        port = program.start_sim(sim)
        program.settings("port=%s\ntimer=0\nTimerEnable=1\n%s" % (port, settings))
        program.start(record=record)
        status = program.run_polls(polls)
        return Done(program, program.polls_done(), status)
    finally:
        program.cleanup()


def run_sequence(program):
    """Four runs of one program, one log: a single poll that ends normally, a
    port that is not there, a module that does not identify itself, and
    polling ended by Ctrl-C."""
    statuses = []
    try:
        port = program.start_sim(["--step", "60"])
        program.settings("port=%s\nTimerEnable=0\n" % port)
        program.start()
        statuses.append(program.wait(30))
        program.stop_sim()
        program.settings("port=%s\nTimerEnable=1\n" % os.path.join(program.dir, "no-such-port"))
        program.start()
        statuses.append(program.wait(30))
        port = program.start_sim(["--fault", "mute"])
        program.settings("port=%s\nTimerEnable=1\n" % port)
        program.start()
        statuses.append(program.wait(30))
        program.stop_sim()
        port = program.start_sim(["--step", "60"])
        program.settings("port=%s\ntimer=0\nTimerEnable=1\n" % port)
        program.start()
        before = program.polls_done()
        statuses.append(program.run_polls(before + 3))
        return Done(program, program.polls_done(), statuses)
    finally:
        program.cleanup()


def run_bad_rate(program):
    """A rate the port refuses: the system's text, then "Can't set PORT"."""
    try:
        port = program.start_sim([])
        program.settings("port=%s\nbaud=12345\n" % port)
        program.start()
        return Done(program, 0, program.wait(30))
    finally:
        program.cleanup()


@pytest.fixture(scope="module")
def runs(binaries, tmp_path_factory):
    base = str(tmp_path_factory.mktemp("e2e"))
    # Every copy of the program is made before any process starts.
    programs = dict((name, Program(os.path.join(base, name), binaries)) for name in SCENARIOS)
    sequence = Program(os.path.join(base, "sequence"), binaries)
    bad_rate = Program(os.path.join(base, "badrate"), binaries)
    with concurrent.futures.ThreadPoolExecutor(len(programs) + 2) as pool:
        futures = dict((name, pool.submit(run_scenario, programs[name], SCENARIOS[name]))
                       for name in SCENARIOS)
        futures["sequence"] = pool.submit(run_sequence, sequence)
        futures["badrate"] = pool.submit(run_bad_rate, bad_rate)
        return dict((name, f.result()) for name, f in futures.items())


def last_stamp(log):
    """The '--now' of the log's last line, plus seconds."""
    line = [l for l in log.splitlines() if l.strip()][-1]
    d, t = line[:10], line[11:19]
    return "%s-%s-%s %s" % (d[6:10], d[3:5], d[0:2], t)


@pytest.mark.parametrize("name", sorted(n for n in SCENARIOS if SCENARIOS[n][4] is not None))
def test_injected_faults_are_counted_by_reason(runs, name):
    done = runs[name]
    _, _, wanted, _, after, reason = SCENARIOS[name]
    assert done.status == 3  # ended by Ctrl-C
    r = run_report(done.log_path, "--no-chart")
    assert r.status == 0, r.err
    polls = done.polls
    assert polls >= wanted
    assert r.number("polls") == polls
    assert r.number("valid telegrams") == after
    assert r.number("rejected polls") == polls - after
    for text in REASONS:
        assert r.reason(text) == (polls - after if text == reason else 0), text
    assert r.number("reason Big difference") == 0
    assert r.number("polls cut off") == 0
    answered = polls if reason != "Receive error!" else after
    assert r.number("answers") == answered
    assert r.number("clock sets") == 0
    assert r.number("time diffs") == after
    assert r.value("longest valid run").startswith("%d polls" % after)
    assert r.number("highest ContValidTime") == after
    # Every bad telegram reset the count, a missing answer does not.
    assert r.number("ContValidTime") == (after if reason == "Receive error!" else 0)
    assert r.value("timer").startswith("0 min (polling without pause")
    assert r.number("starts") == 1
    assert r.value("ended without a closed line").startswith("1 ")
    assert ", 0 skipped (foreign or garbled), 0 unrecognised" in r.value("lines")
    # The simulator's first answer is in the PC's own time, each later one a
    # minute further ahead: the PC is behind by a minute a telegram.
    assert abs(r.ms("time diff worst") + 60000.0 * (after - 1)) < 1000


def test_clock_sets_match_the_recording_stand_in(runs):
    done = runs["sets"]
    assert done.status == 3
    polls = done.polls
    assert polls >= 6
    r = run_report(done.log_path, "--no-chart", "--now", last_stamp(done.log))
    assert r.status == 0, r.err
    assert r.number("polls") == polls
    assert r.number("valid telegrams") == polls
    assert r.number("rejected polls") == 0
    # Every telegram set, each time through the stand-in.
    assert done.sets == polls
    assert r.number("clock sets") == done.sets
    assert r.value("clock sets") == str(done.sets)  # none refused
    # Telegram i is 600 + 60 (i - 1) seconds ahead: the PC is behind.
    worst = -(600 + 60 * (polls - 1)) * 1000.0
    assert abs(r.ms("time diff worst") - worst) < 1500
    assert abs(r.ms("clock set worst step") - worst) < 1500
    steps = [-(600 + 60 * (i - 1)) * 1000.0 for i in range(1, polls + 1)]
    steps.sort(key=abs)
    m = len(steps)
    middle = abs(steps[m // 2]) if m % 2 else (abs(steps[m // 2 - 1]) + abs(steps[m // 2])) / 2
    assert abs(r.ms("clock set median step") - middle) < 1500
    assert r.value("last clock set").split(" (")[0] == last_set_stamp(done.log)
    assert r.number("ContValidTime") == polls
    assert r.value("clock kept").startswith("yes")
    assert r.value("longest valid run").startswith("%d polls" % polls)


def last_set_stamp(log):
    lines = [l for l in log.splitlines() if "Synchronizing time to" in l]
    return lines[-1][:19]


def test_big_difference_is_never_set(runs):
    done = runs["big"]
    r = run_report(done.log_path, "--no-chart")
    assert r.status == 0, r.err
    assert r.number("valid telegrams") == done.polls
    assert r.number("reason Big difference") == done.polls
    assert r.number("clock sets") == 0
    assert done.sets == 0
    assert abs(r.ms("time diff worst") + 50000000.0 + 60000.0 * (done.polls - 1)) < 1500


def test_refused_clock_sets_are_counted(runs):
    done = runs["refused"]
    r = run_report(done.log_path, "--no-chart")
    assert r.status == 0, r.err
    # ValidDateTimeCount 1: every telegram sets; the stub refuses with EPERM.
    assert r.value("clock sets") == "%d, refused %d (errno 1 x%d)" % ((done.polls,) * 3)
    assert done.sets == 0


def test_starts_stops_and_exit_statuses(runs):
    done = runs["sequence"]
    assert done.status == [0, 254, 250, 3]
    later = run_report(done.log_path, "--no-chart", "--now", "2099-01-01")
    assert later.status == 0, later.err
    assert later.value("starts") == "4 (port opened 3, not opened 1)"
    assert later.number("closed") == 2
    assert later.number("identification failed") == 1
    assert later.value("module identified") == "DCFSIM 1.0<CR><LF> x2"
    assert later.value("exit statuses") == "250 x1, 254 x1"
    assert later.number("ended normally (exit status 0)") == 1
    assert later.number("ended without a closed line") == 1  # the Ctrl-C
    assert later.value("running") == "no"
    assert later.value("clock kept").startswith("no, no valid telegram since ")
    assert later.number("polls") == done.polls
    assert later.number("valid telegrams") == done.polls
    # Just after its last line the interrupted run may still be running.
    now = run_report(done.log_path, "--no-chart", "--now", last_stamp(done.log))
    assert now.value("running").startswith("yes")
    assert now.number("ended without a closed line") == 0
    assert now.value("clock kept").startswith("yes")


def all_logs(runs):
    return [runs[name].log_path for name in sorted(runs)]


def test_several_logs_add_up(runs):
    r = run_report(*(all_logs(runs) + ["--no-chart"]))
    assert r.status == 0, r.err
    assert r.number("polls") == sum(d.polls for d in runs.values())
    for text in REASONS:
        expected = 0
        for name, (_, _, _, _, after, reason) in SCENARIOS.items():
            if reason == text:
                expected += runs[name].polls - after
        assert r.reason(text) == expected, text
    assert r.number("reason Big difference") == runs["big"].polls
    assert r.number("clock sets") == runs["sets"].sets + runs["refused"].polls
    assert r.number("starts") == len(SCENARIOS) + 4 + 1
    assert r.value("exit statuses") == "250 x1, 253 x1, 254 x1"


def test_interleaved_runs(runs, tmp_path):
    """The lines of two logs merged by their time: counts as for each alone."""
    a, b = runs["parity"].log.splitlines(True), runs["sequence"].log.splitlines(True)
    merged = sorted(a + b, key=lambda l: (l[6:10], l[3:5], l[0:2], l[11:19]))
    path = tmp_path / "merged.log"
    path.write_text("".join(merged))
    r = run_report(path, "--no-chart", "--now", "2099-01-01")
    assert r.status == 0, r.err
    one = run_report(runs["parity"].log_path, "--no-chart")
    two = run_report(runs["sequence"].log_path, "--no-chart")
    for key in ["polls", "valid telegrams", "answers", "reason Bad minute parity!", "closed",
                "identification failed"]:
        assert r.number(key) == one.number(key) + two.number(key), key
    assert r.value("exit statuses") == "250 x1, 254 x1"


def test_rotated_crlf_and_compressed_set_in_any_order(runs, tmp_path):
    """dcfsync.log.2.gz, .1 and the log itself given newest first, with CRLF
    line ends: the same summary as the whole log."""
    done = runs["parity"]
    lines = done.log.splitlines(True)
    third = len(lines) // 3
    # Cut in the middle of a poll, as rotation does.
    while not re.match(r".{20}[0-9A-F]{2} ", lines[third]):
        third += 1
    third += 1
    parts = [lines[:third], lines[third:2 * third], lines[2 * third:]]
    with gzip.open(str(tmp_path / "dcfsync.log.2.gz"), "wb") as f:
        f.write("".join(parts[0]).replace("\n", "\r\n").encode())
    (tmp_path / "dcfsync.log.1").write_bytes("".join(parts[1]).replace("\n", "\r\n").encode())
    (tmp_path / "dcfsync.log").write_bytes("".join(parts[2]).replace("\n", "\r\n").encode())
    names = [tmp_path / n for n in ("dcfsync.log", "dcfsync.log.1", "dcfsync.log.2.gz")]
    r = run_report(*(names + ["--no-chart", "--now", "2099-01-01"]))
    whole = run_report(done.log_path, "--no-chart", "--now", "2099-01-01")
    assert r.status == 0, r.err
    assert r.value("dcfreport 1.0").startswith("3 files")
    assert r.out.split("\n", 1)[1] == whole.out.split("\n", 1)[1]


def test_chart_of_a_real_log(runs, tmp_path):
    from test_chart import check_png, count_colour
    out = tmp_path / "real.png"
    r = run_report(runs["parity"].log_path, runs["sets"].log_path, "-o", out)
    assert r.status == 0, r.err
    assert r.value("chart") == str(out)
    check_png(out)
    assert count_colour(out, "#1f77b4") > 20       # the differences
    assert count_colour(out, "#d62728") > 10       # the parity errors' ticks


def test_port_settings_refused(runs):
    done = runs["badrate"]
    assert done.status == 253
    r = run_report(done.log_path, "--no-chart")
    assert r.status == 0, r.err
    assert r.value("port not configured") == "1 (Invalid argument)"
    assert r.value("exit statuses") == "253 x1"
    assert r.number("closed") == 1
    assert r.number("polls") == 0
    assert "module identified" not in r.out
    assert r.value("last valid telegram") == "none"
    assert r.value("clock kept") == "no, no valid telegram in the log"


def test_data_file_of_a_real_run(runs):
    done = runs["parity"]
    r = run_report(done.log_path, "--data", os.path.join(done.dir, "dcfsync.dat"), "--no-chart")
    assert r.status == 0, r.err
    # Every answer was complete; the broken ones carry a wrong minute parity.
    assert r.value("data telegrams").startswith("%d (" % done.polls)
    assert r.value("data telegrams").endswith(", 0 lines skipped")
    assert r.value("data failed checks") == (
        "start bit 0, minute parity %d, hour parity 0, date parity 0" % (done.polls - 3))


def test_console_capture_shows_ctrl_c(runs):
    """The console's transcript (countdown, Ctrl-C) read as a log."""
    done = runs["sequence"]
    r = run_report(os.path.join(done.dir, "out.txt"), "--no-chart")
    assert r.status == 0, r.err
    assert r.number("Ctrl-C lines") == 1
    assert r.number("polls") == done.polls
