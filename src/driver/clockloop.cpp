// The clock discipline's shell. See clockloop.h.
#include "driver/clockloop.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "clock/adjust.h"
#include "clock/discipline.h"
#include "config/paths.h"
#include "config/settings.h"
#include "link/port.h"
#include "os/monotonic.h"
#include "log/log.h"

// The loop and what its shell keeps beside it.
struct ClockLoopRecord {
  DisciplineState state;
  int running;           // 1 from StartClockLoop until StopClockLoop
  double writtenPpm;     // frequency in the drift file
  int64_t writtenMs;     // monotonic time of the last write
};
// Only the main flow touches it: Ctrl-C reaches the loop through the flow's
// own end (StopClockLoop), never from another thread.
static ClockLoopRecord Loop;

// Writes the drift file; 0 when it could not be written.
static int WriteDrift(void) {
  if (Paths.drift[0] == '\0') return 1;
  char text[DriftTextSize];
  FormatDrift(text, sizeof text, Loop.state.frequencyPpm);
  FILE* file = fopen(Paths.drift, "wb");
  int ok = file != NULL && fputs(text, file) >= 0;
  if (file != NULL && fclose(file) != 0) ok = 0;
  Loop.writtenPpm = Loop.state.frequencyPpm;  // also when failed: tried again later
  Loop.writtenMs = MonotonicMs();
  return ok;
}

// The drift file's frequency; 0 when there is none or it is damaged.
static double ReadDrift(void) {
  if (Paths.drift[0] == '\0') return 0.0;
  FILE* file = fopen(Paths.drift, "rb");
  if (file == NULL) return 0.0;
  char text[DriftTextSize];
  size_t length = fread(text, 1, sizeof text - 1, file);
  int failed = ferror(file) || !feof(file);  // unreadable, or longer than any drift text
  fclose(file);
  text[length] = '\0';
  double ppm = 0.0;
  if (failed || memchr(text, '\0', length) != NULL || !ParseDrift(text, &ppm)) {
    LogMessage("Drift file %s damaged, ignored", Paths.drift);
    return 0.0;
  }
  return ppm;
}

static void ReportAdjustFailure(uint32_t code) {
  LogMessage("Can't adjust time! errno %d", (int)code);
}

DisciplineState* RunningDiscipline(void) { return Loop.running ? &Loop.state : NULL; }

void ApplyDisciplineCommand(const DisciplineCommand* command) {
  if (!Loop.running) return;
  uint32_t code = 0;
  switch (command->action) {
    case DisciplineStep:
      // Set as without the loop; no slew may move the clock after the set.
      code = EndPcClockSlew(command->frequencyPpm);
      break;
    case DisciplineAdjust:
      LogMessage("Discipline: offset %+.1f ms, frequency %+.1f ppm", -command->offsetMs,
                 command->frequencyPpm);
      code = AdjustPcClock(command->frequencyPpm, command->slewMs, command->slewRatePpm);
      break;
    default:
      if (command->outlier) LogMessage("Discipline: sample dropped");
  }
  if (code != 0) ReportAdjustFailure(code);
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
  Loop.writtenPpm = Loop.state.frequencyPpm;
  Loop.writtenMs = MonotonicMs();
  Loop.running = 1;
  uint32_t code = AdjustPcClock(Loop.state.frequencyPpm, 0.0, 0.0);
  if (code != 0) ReportAdjustFailure(code);
}

void TendClockLoop(void) {
  if (!Loop.running) return;
  int64_t now = MonotonicMs();
  if (DisciplineSlewEnds(&Loop.state, now)) {
    uint32_t code = EndPcClockSlew(Loop.state.frequencyPpm);
    if (code != 0) ReportAdjustFailure(code);
  }
  if (Loop.state.frequencyPpm != Loop.writtenPpm &&
      now - Loop.writtenMs >= (int64_t)DriftWriteSeconds * 1000 && !WriteDrift()) {
    LogMessage("Can't write %s", Paths.drift);
  }
}

void StopClockLoop(void) {
  if (!Loop.running) return;
  Loop.running = 0;
  EndPcClockSlew(Loop.state.frequencyPpm);
  WriteDrift();
}
