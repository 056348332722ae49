"""Shared pieces of dcfreport's tests: running the tool, reading its summary,
and running the real dcfsync against the receiver simulator.

The end-to-end tests need the native build of dcfsync, dcfsim and the
clock_settime recording stub. scripts/test.sh builds them and names them in
DCFSYNC_BIN, DCFSIM_BIN and DCFSYNC_SETTIME_STUB; without these variables
the tests look in build/native/.
"""

import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
SCRIPT = os.path.join(REPO, "tools", "dcfreport", "dcfreport.py")
GENLOG = os.path.join(REPO, "bench", "report", "genlog.py")
BUILD = os.path.join(REPO, "build", "native")

# German legal time, the simulator's: the differences are the answer's delay.
GERMAN_TZ = "CET-1CEST,M3.5.0,M10.5.0/3"


class Report:
    """One run of dcfreport: exit status, standard output and error, and the
    summary's 'key: value' lines."""

    def __init__(self, status, out, err):
        self.status, self.out, self.err = status, out, err

    def value(self, key):
        """The text after 'key: ' on the summary line that starts with key."""
        prefix = key + ": "
        for line in self.out.splitlines():
            if line.startswith(prefix):
                return line[len(prefix):]
        raise AssertionError("no line %r in the summary:\n%s" % (key, self.out))

    def number(self, key):
        """The first integer of the line's value."""
        m = re.match(r"[+-]?[0-9]+", self.value(key))
        assert m, "%s: %s" % (key, self.value(key))
        return int(m.group(0))

    def ms(self, key):
        """A value printed as '+12.3 ms'."""
        m = re.match(r"([+-]?[0-9.]+) ms", self.value(key))
        assert m, "%s: %s" % (key, self.value(key))
        return float(m.group(1))

    def reason(self, text):
        return self.number("reason " + text)


def run_report(*args, timeout=120):
    """dcfreport run as its users run it, by the Python running the tests."""
    p = subprocess.run([sys.executable, SCRIPT] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return Report(p.returncode, p.stdout.decode("utf-8", "replace"),
                  p.stderr.decode("utf-8", "replace"))


@pytest.fixture
def report():
    return run_report


# --- The real program against the simulator ---------------------------------

def built(variable, default):
    path = os.environ.get(variable) or default
    if not os.path.isfile(path):
        pytest.fail("%s not found (set %s, or build the native preset's targets dcfsync, "
                    "dcfsim and settime_stub)" % (path, variable))
    return path


class Program:
    """dcfsync copied into a directory of its own with its settings file, run
    against a simulator of its own. The clock is never set: the C library's
    clock_settime is replaced by the recording stub, and when run as root the
    program also loses the privilege to set the clock."""

    def __init__(self, directory, binaries):
        self.dir = directory
        self.dcfsync, self.dcfsim, self.stub = binaries
        os.makedirs(directory, exist_ok=True)
        self.program = os.path.join(directory, "dcfsync")
        shutil.copy(self.dcfsync, self.program)
        os.chmod(self.program, 0o755)
        self.sim = None
        self.proc = None
        self.record = os.path.join(directory, "settime.txt")

    @property
    def log_path(self):
        return os.path.join(self.dir, "dcfsync.log")

    def log(self):
        try:
            with open(self.log_path, "r", encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def start_sim(self, args):
        err = open(os.path.join(self.dir, "sim-%d.err" % time.monotonic_ns()), "w")
        self.sim = subprocess.Popen([self.dcfsim] + list(args), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=err)
        err.close()
        ready, _, _ = select.select([self.sim.stdout], [], [], 10)
        assert ready, "the simulator printed no port"
        port = self.sim.stdout.readline().decode().strip()
        assert port, "the simulator printed no port"
        return port

    def stop_sim(self):
        if self.sim is not None:
            if self.sim.poll() is None:
                self.sim.terminate()
            try:
                self.sim.wait(10)
            except subprocess.TimeoutExpired:
                self.sim.kill()
                self.sim.wait()
            self.sim.stdout.close()
            self.sim = None

    def settings(self, text):
        with open(os.path.join(self.dir, "dcfsync.ini"), "w") as f:
            f.write("[init]\n" + text)

    def start(self, record=True):
        env = dict(os.environ)
        env["TZ"] = GERMAN_TZ
        env["LD_PRELOAD"] = self.stub
        env.pop("DCFSYNC_SETTIME_RECORD", None)
        if record:  # without it the stub refuses with EPERM
            env["DCFSYNC_SETTIME_RECORD"] = self.record
        cmd = [self.program]
        if os.geteuid() == 0 and os.access("/usr/bin/setpriv", os.X_OK):
            cmd = ["/usr/bin/setpriv", "--inh-caps=-sys_time", "--bounding-set=-sys_time"] + cmd
        out = open(os.path.join(self.dir, "out.txt"), "ab")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=subprocess.STDOUT, env=env, cwd=self.dir)
        out.close()

    def polls_done(self):
        """Polls logged to their end: telegrams evaluated, incomplete ones,
        answers missing (but not a missing identification)."""
        text = self.log()
        dates = len(re.findall(r"^.{20}\d\d:\d\d:\d\d\.\d{3} \d\d\.\d\d\.\d{4} \w+$", text, re.M))
        errors = 0
        previous = ""
        for line in text.splitlines():
            if line[20:] == "Receive error!" and not previous.endswith(" opened"):
                errors += 1
            previous = line
        return dates + text.count("Bad data!") + errors

    def run_polls(self, polls, limit=60):
        """Lets the running program log this many polls, then presses Ctrl-C
        while the next one waits for its answer (nothing of it is logged)."""
        end = time.monotonic() + limit
        while self.polls_done() < polls:
            assert self.proc.poll() is None, "dcfsync ended early:\n" + self.log()
            assert time.monotonic() < end, "no %d polls in %d s:\n%s" % (polls, limit, self.log())
            time.sleep(0.05)
        time.sleep(0.3)
        self.proc.send_signal(signal.SIGINT)
        return self.wait()

    def wait(self, limit=30):
        try:
            return self.proc.wait(limit)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()

    def sets_recorded(self):
        try:
            with open(self.record) as f:
                return len(f.read().splitlines())
        except FileNotFoundError:
            return 0

    def cleanup(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.stop_sim()


@pytest.fixture(scope="session")
def binaries():
    return (built("DCFSYNC_BIN", os.path.join(BUILD, "dcfsync")),
            built("DCFSIM_BIN", os.path.join(BUILD, "tools", "dcfsim", "dcfsim")),
            built("DCFSYNC_SETTIME_STUB", os.path.join(BUILD, "tests", "libsettime_stub.so")))
