// The clock discipline's shell. See discipline_shell.h.
#include "driver/discipline_shell.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "clock/discipline_adjust.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/log.h"
#include "os/files.h"
#include "os/monotonic.h"

static int ErrorNumber(void) { return errno != 0 ? errno : EIO; }

// Replaces the drift file whole: a temporary file written, flushed to the
// disk and renamed over it, so a failure leaves the old one. 0 or the error.
static int WriteDrift(DisciplineLoop* loop) {
  loop->writtenPpm = loop->state.frequencyPpm;  // also when failed: tried again later
  loop->writtenMs = MonotonicMs();
  if (Paths.drift[0] == '\0') return 0;
  char text[DriftTextSize], temp[sizeof Paths.drift + 8];
  FormatDrift(text, sizeof text, loop->state.frequencyPpm);
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

// 1 when the system took the adjustment; else its line, the slew ended as
// far as the system lets it, and the loop stopped for the run.
static int Taken(DisciplineLoop* loop, int code) {
  if (code == 0) {
    loop->goodPpm = loop->state.frequencyPpm;
    return 1;
  }
  LogMessage("Can't adjust time! errno %d", code);
  loop->running = 0;
  EndPcClockSlew(loop->goodPpm);
  return 0;
}

DisciplineState* RunningDiscipline(DisciplineLoop* loop) {
  return loop->running ? &loop->state : NULL;
}

int ApplyDisciplineCommand(DisciplineLoop* loop, const DisciplineCommand* command) {
  if (!loop->running) return 0;
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
  Taken(loop, code);
  return code;
}

void StartClockLoop(DisciplineLoop* loop) {
  memset(loop, 0, sizeof *loop);
  if (Settings.ClockDiscipline == 0 || Settings.DCFSetTime == 0) return;
  if (Settings.ChronySocket[0] != '\0' || Settings.NtpShmUnit >= 0) {
    LogMessage("ClockDiscipline refused: a time daemon disciplines the clock");
    return;
  }
  double start = ReadDrift();
  LogMessage("Discipline: frequency %+.3f ppm at start", start);
  ResetDiscipline(&loop->state, start, PcClockSlewStyle());
  loop->goodPpm = loop->writtenPpm = loop->state.frequencyPpm;
  loop->writtenMs = MonotonicMs();
  loop->running = 1;
  int code = PreparePcClockAdjust();
  Taken(loop, code != 0 ? code : AdjustPcClock(loop->state.frequencyPpm, 0.0, 0.0));
}

void TendClockLoop(DisciplineLoop* loop) {
  if (!loop->running) return;
  int64_t now = MonotonicMs();
  if (DisciplineSlewEnds(&loop->state, now) &&
      !Taken(loop, EndPcClockSlew(loop->state.frequencyPpm))) {
    return;
  }
  if (loop->state.frequencyPpm != loop->writtenPpm &&
      now - loop->writtenMs >= (int64_t)DriftWriteSeconds * 1000 && WriteDrift(loop) != 0) {
    LogMessage("Can't write %s", Paths.drift);
  }
}

void StopClockLoop(DisciplineLoop* loop) {
  if (!loop->running) return;
  loop->running = 0;
  EndPcClockSlew(loop->state.frequencyPpm);
  WriteDrift(loop);
}
