// The clock discipline's shell. See clockloop.h.
#include "driver/clockloop.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "clock/adjust.h"
#include "clock/discipline.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/log.h"
#include "os/files.h"
#include "os/monotonic.h"

static struct {
  DisciplineState state;
  int running;        // from StartClockLoop until StopClockLoop or a refused adjustment
  double goodPpm;     // the frequency of the last adjustment the system took
  double writtenPpm;  // in the drift file
  int64_t writtenMs;  // monotonic time of the last write
} Loop;

static int ErrorNumber(void) { return errno != 0 ? errno : EIO; }

// Replaces the drift file whole: a temporary file written, flushed to the
// disk and renamed over it, so a failure leaves the old one. 0 or the error.
static int WriteDrift(void) {
  Loop.writtenPpm = Loop.state.frequencyPpm;  // also when failed: tried again later
  Loop.writtenMs = MonotonicMs();
  if (Paths.drift[0] == '\0') return 0;
  char text[DriftTextSize], temp[sizeof Paths.drift + 8];
  FormatDrift(text, sizeof text, Loop.state.frequencyPpm);
  snprintf(temp, sizeof temp, "%s.new", Paths.drift);
  FILE* file = OsOpenFile(temp, "wb");
  if (file == NULL) return ErrorNumber();
  int code = OsPutText(text, file) < 0 || OsFlushFile(file) != 0 ? ErrorNumber() : OsSyncFile(file);
  if (OsCloseFile(file) != 0 && code == 0) code = ErrorNumber();
  return code != 0 ? code : OsReplaceFile(temp, Paths.drift);
}

// The drift file's frequency; 0 when there is none or it is damaged.
static double ReadDrift(void) {
  FILE* file = Paths.drift[0] != '\0' ? OsOpenFile(Paths.drift, "rb") : NULL;
  if (file == NULL) return 0.0;
  char text[DriftTextSize];
  size_t length = OsReadText(text, sizeof text - 1, file);
  OsCloseFile(file);
  text[length] = '\0';
  double ppm = 0.0;
  // Longer than any drift text, a zero byte, or not one number and its line feed.
  if (length == sizeof text - 1 || strlen(text) != length || ParseDrift(text, &ppm) != 0) {
    LogMessage("Drift file %s damaged, ignored", Paths.drift);
    return 0.0;
  }
  return ppm;
}

// 1 when the system took the adjustment; else its one line, the slew ended
// as far as the system lets it, and the loop stopped for the run.
static int Taken(int code) {
  if (code == 0) {
    Loop.goodPpm = Loop.state.frequencyPpm;
    return 1;
  }
  LogMessage("Can't adjust time! errno %d", code);
  Loop.running = 0;
  EndPcClockSlew(Loop.goodPpm);
  return 0;
}

DisciplineState* RunningDiscipline(void) { return Loop.running ? &Loop.state : NULL; }

int ApplyDisciplineCommand(const DisciplineCommand* command) {
  if (!Loop.running) return 0;
  int code = 0;
  if (command->action == DisciplineStep) {
    code = EndPcClockSlew(command->frequencyPpm);  // no slew may move the clock after the set
  } else if (command->action == DisciplineAdjust) {
    LogMessage("Discipline: offset %+.1f ms, frequency %+.1f ppm", -command->offsetMs,
               command->frequencyPpm);
    code = AdjustPcClock(command->frequencyPpm, command->slewMs, command->slewRatePpm);
  } else if (command->outlier) {
    LogMessage("Discipline: sample dropped");
  }
  Taken(code);
  return code;
}

void StartClockLoop(void) {
  if (Settings.ClockDiscipline == 0 || Settings.DCFSetTime == 0) return;
  if (Settings.ChronySocket[0] != '\0' || Settings.NtpShmUnit >= 0) {
    LogMessage("ClockDiscipline refused: a time daemon disciplines the clock");
    return;
  }
  double start = ReadDrift();
  LogMessage("Discipline: frequency %+.3f ppm at start", start);
  ResetDiscipline(&Loop.state, start, PcClockSlewStyle());
  Loop.goodPpm = Loop.writtenPpm = Loop.state.frequencyPpm;
  Loop.writtenMs = MonotonicMs();
  Loop.running = 1;
  int code = PreparePcClockAdjust();
  Taken(code != 0 ? code : AdjustPcClock(Loop.state.frequencyPpm, 0.0, 0.0));
}

void TendClockLoop(void) {
  if (!Loop.running) return;
  int64_t now = MonotonicMs();
  if (DisciplineSlewEnds(&Loop.state, now) && !Taken(EndPcClockSlew(Loop.state.frequencyPpm))) return;
  if (Loop.state.frequencyPpm != Loop.writtenPpm &&
      now - Loop.writtenMs >= (int64_t)DriftWriteSeconds * 1000 && WriteDrift() != 0) {
    LogMessage("Can't write %s", Paths.drift);
  }
}

void StopClockLoop(void) {
  if (!Loop.running) return;
  Loop.running = 0;
  EndPcClockSlew(Loop.state.frequencyPpm);
  WriteDrift();
}
