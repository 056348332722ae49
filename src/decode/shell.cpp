// The shell around the decoders and the evaluation: the capture, the
// decoder's complaints and the data line, and the evaluation's decision
// carried out (its lines logged, the telegram fed, the clock set).
#include <string.h>
#include <time.h>

#include "clock/calendar.h"
#include "clock/evaluate.h"
#include "clock/pcclock.h"
#include "config/paths.h"
#include "config/settings.h"
#include "decode/decode.h"
#include "log/log.h"
#include "refclock/refclock.h"

ClockSampleHandler ClockSampleHook = NULL;
ReceptionHandler ReceptionHook = NULL;

// The clock's new time: the UTC instant it is set to, and the same instant
// as the PC shows it in its own zone (what the log shows).
struct NewClockRecord {
  int64_t seconds;       // since 1970, UTC
  int32_t milliseconds;  // 0..999
  int32_t year, month, day, hour, minute, second;  // the PC's local date and time
};

// The clock now less difference (ms), into *record. An instant no date can
// name is taken as 0 (and refused when set).
static void NewClockTime(double difference, NewClockRecord* record) {
  PcTime now;
  ReadPcClock(&now);
  double x = (double)now.time * 1000.0 + (double)now.millitm - difference;
  if (!(x > -9.2e18 && x < 9.2e18)) x = 0.0;  // no date lies out there: refused when set
  int64_t ms = (int64_t)x;
  record->seconds = FloorDivide(ms, 1000);
  record->milliseconds = (int32_t)(ms - record->seconds * 1000);

  // Shown as the PC shows it, in its own zone.
  time_t t = (time_t)record->seconds;
  struct tm local;
  memset(&local, 0, sizeof local);
  const struct tm* broken = localtime(&t);
  if (broken != NULL) local = *broken;  // unrepresentable: refused when set
  record->year = local.tm_year + 1900;
  record->month = local.tm_mon + 1;
  record->day = local.tm_mday;
  record->hour = local.tm_hour;
  record->minute = local.tm_min;
  record->second = local.tm_sec;
}

void CarryOutEvaluation(const TimeTelegram* telegram, const EvaluationDecision* decision) {
  for (int32_t i = 0; i < decision->lineCount; ++i) {
    if (i == decision->linesBeforeFeed && decision->trusted) FeedReferenceClock(*telegram);
    LogText(decision->lines[i]);
  }
  if (decision->lineCount <= decision->linesBeforeFeed && decision->trusted) {
    FeedReferenceClock(*telegram);
  }
  if (decision->trusted && ReceptionHook != NULL) ReceptionHook(decision->offsetMs, 0);
  // The clock discipline takes every trusted telegram as a sample; below
  // SynchronizeDiff it slews instead of the set (which is then not asked).
  if (decision->trusted && Settings.DCFSetTime != 0 && ClockSampleHook != NULL &&
      ClockSampleHook(-decision->offsetMs)) {
    return;
  }
  if (!decision->setClock) return;

  NewClockRecord next;
  NewClockTime(-decision->offsetMs, &next);
  LogMessage("Synchronizing time to %.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", next.day, next.month,
             next.year, next.hour, next.minute, next.second, next.milliseconds);
  uint32_t code = SetPcUtcTime(next.seconds, next.milliseconds);
  if (code != 0) {
    LogMessage("Can't set time! errno %d", (int)code);
  } else if (ReceptionHook != NULL) {
    ReceptionHook(0, 1);
  }
}

void HandleTelegram(const TimeTelegram* telegram, CountingState* counting) {
  EvaluationDecision decision;
  EvaluateTelegram(telegram, &Settings, counting, &decision);
  CarryOutEvaluation(telegram, &decision);
}

// The decoder's result carried out: complaints, and the telegram evaluated
// unless the frame was rejected outright.
static void HandleDecoded(const DecodeResult* result, CountingState* counting) {
  for (int32_t i = 0; i < result->failedCount; ++i) LogText(CheckMessages[result->failed[i]]);
  if (!result->complete) {
    counting->ContValidTime = 0;
    return;
  }
  HandleTelegram(&result->telegram, counting);
}

void DecodeFrame(const unsigned char* frame, int raw, const PcTime* capture,
                 CountingState* counting) {
  DecodeResult result;
  if (raw) {
    DecodeRawTelegram(frame, Settings.century, &result);
  } else {
    DecodeDecodedTime(frame, Settings.century, &result);
  }
  result.telegram.capture = *capture;
  if (raw && result.complete && Settings.WriteData != 0) {
    char line[DataLineSize];
    BuildDataLine(frame, line, sizeof line);
    AppendLine(line, Paths.data);
  }
  HandleDecoded(&result, counting);
}

void DecodeRawTelegramFrame(const unsigned char* frame, CountingState* counting) {
  PcTime capture;
  CaptureAnswerTime(&capture, RawTelegramFrameSize);
  DecodeFrame(frame, 1, &capture, counting);
}

void DecodeDecodedTimeFrame(const unsigned char* frame, CountingState* counting) {
  PcTime capture;
  CaptureAnswerTime(&capture, DecodedTimeFrameSize);
  DecodeFrame(frame, 0, &capture, counting);
}
