// One poll's decision about a frame and the shell that carries it out.
#include "driver/poll.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "clock/calendar.h"
#include "clock/capture.h"
#include "clock/pcclock.h"
#include "config/paths.h"
#include "config/settings.h"
#include "decode/decode.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "refclock/refclock.h"

void ResetRunState(RunState* run) {
  memset(run, 0, sizeof *run);
  ResetReception(&run->reception);
}

void DecideFrame(const unsigned char* frame, int32_t frameKind, const PcTime* capture,
                 int64_t captureMonoMs, const SettingsRecord* settings, RunState* run,
                 DisciplineState* discipline, PollDecision* decision) {
  StartDecision(decision);
  DecodeResult result;
  if (frameKind == FrameRaw) {
    DecodeRawTelegram(frame, settings->century, &result);
    if (result.complete && settings->WriteData != 0) {
      BuildDataLine(frame, decision->dataLine, sizeof decision->dataLine);
    }
  } else {
    DecodeDecodedTime(frame, settings->century, &result);
  }
  for (int32_t i = 0; i < result.failedCount; ++i) {
    AddDecisionLine(decision, CheckMessages[result.failed[i]]);
  }
  if (!result.complete) {
    BreakCount(&run->counting, &run->chain);
    return;
  }
  result.telegram.capture = *capture;
  DecideTelegram(&result.telegram, captureMonoMs, settings, &run->counting, &run->chain,
                 discipline, decision);
}

// The PC clock now plus offsetMs, set: logged in the PC's own zone first.
static void SetClockBy(HealthRecord* health, double offsetMs) {
  PcTime now;
  ReadPcClock(&now);
  double x = (double)now.time * 1000.0 + (double)now.millitm + offsetMs;
  if (!(x > -9.2e18 && x < 9.2e18)) x = 0.0;  // no date lies out there: refused when set
  int64_t ms = (int64_t)x;
  int64_t seconds = FloorDivide(ms, 1000);
  int32_t milliseconds = (int32_t)(ms - seconds * 1000);
  time_t t = (time_t)seconds;
  struct tm local;
  memset(&local, 0, sizeof local);
  const struct tm* broken = localtime(&t);
  if (broken != NULL) local = *broken;  // unrepresentable: refused when set
  LogMessage("Synchronizing time to %.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", local.tm_mday,
             local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
             milliseconds);
  int code = SetPcUtcTime(seconds, milliseconds);
  if (code != 0) {
    LogMessage("Can't set time! errno %d", code);
  } else {
    NoteTelegramOutcome(health, 0, 1);
  }
}

void CarryOutDecision(RunState* run, const PollDecision* decision) {
  if (decision->dataLine[0] != '\0') {
    char line[DataLineSize];
    FormatTimestamp(line, sizeof line);
    size_t used = strlen(line);
    snprintf(line + used, sizeof line - used, "%s", decision->dataLine);
    AppendLine(line, Paths.data);
  }
  for (int32_t i = 0; i < decision->lineCount; ++i) LogText(decision->lines[i]);
  if (decision->trusted) {
    FeedReferenceClock(&decision->sample);
    NoteTelegramOutcome(&run->health, decision->sample.offsetMs, 0);
  }
  if (decision->discipline) ApplyDisciplineCommand(&run->loop, &decision->disciplineCommand);
  if (decision->setClock) SetClockBy(&run->health, decision->sample.offsetMs);
}

void CarryOutFrame(RunState* run, const unsigned char* frame, int32_t frameKind,
                   const PcTime* capture, int64_t captureMonoMs) {
  PollDecision decision;
  DecideFrame(frame, frameKind, capture, captureMonoMs, &Settings, run,
              RunningDiscipline(&run->loop), &decision);
  CarryOutDecision(run, &decision);
}

void CarryOutAnswer(RunState* run, const unsigned char* frame, int32_t frameKind) {
  // Both clocks read together, the PC clock first.
  PcTime now;
  ReadPcClock(&now);
  int64_t monotonic = MonotonicMs();
  int32_t bytes = frameKind == FrameRaw ? RawTelegramFrameSize : DecodedTimeFrameSize;
  PcTime capture;
  int64_t captureMonoMs = 0;
  AnswerCaptureTime(&now, monotonic, PortLastByteMs(), bytes, Settings.baud, &capture,
                    &captureMonoMs);
  CarryOutFrame(run, frame, frameKind, &capture, captureMonoMs);
}
