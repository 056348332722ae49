// Fuzzes the decoders and the evaluation behind them: arbitrary settings
// (century, the synchronisation bounds, the count of valid telegrams, clock
// setting and data file on or off), arbitrary starting state, then a
// sequence of frames, each a raw telegram frame, a decoded-time frame or a
// telegram handed to the evaluation directly with an arbitrary capture of
// the PC clock. The clock is set through a recording stand-in.
//
// Checked besides what the sanitizers see: a frame is read only within its
// own length; a request to set the clock comes only when clock setting is
// on, enough valid telegrams have come, the difference lies within the
// bounds and the telegram names one real instant (a real date and time,
// its weekday unknown or the date's own, and outside the repeated autumn
// hour unless a zone bit tells the pass); for such a telegram the clock is
// set exactly then, to the UTC instant the difference gives, give or take
// the seconds the run took. The telegram's UTC comes from its own zone bit,
// or without one from the German rule; the PC's zone plays no part. The
// sample such a telegram would give the time daemon is checked against the
// same model of the calendar: fed only for one real instant, a leap only
// with A2 in the last hour before 1 January or 1 July UTC.
#include <fuzzer/FuzzedDataProvider.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "clock/pcclock.h"
#include "decode/decode.h"
#include "driver/poll.h"
#include "config/paths.h"
#include "config/settings.h"
#include "fuzzsupport.h"
#include "log/log.h"
#include "os/oscalls_posix.h"
#include "refclock/refclock.h"
#include "support/fake_clockset.h"

namespace {

// The log's last line, caught in the system-call table's place of the log
// file: the log is written (WriteLog on) to nowhere, the data file as usual.
std::string LastLogLine;
FILE* OpenLogNowhere(const char* path, const char* mode) {
  return strcmp(path, Paths.log) == 0 ? stdout : RealOsCalls.OpenFile(path, mode);
}
int CatchLogText(const char* text, FILE* file) {
  if (file != stdout) return RealOsCalls.PutText(text, file);
  LastLogLine = text;
  return 0;
}
int FlushLog(FILE* file) { return file == stdout ? 0 : RealOsCalls.FlushFile(file); }
int CloseLog(FILE* file) { return file == stdout ? 0 : RealOsCalls.CloseFile(file); }
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

namespace {

// The run's counting state, carried from one input's telegrams to the next
// as the program carries it from poll to poll.
RunState Run;
CountingState& Counting = Run.counting;

// Seconds since 1970 of a date and time read as UTC.
int64_t AsUtc(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
              int64_t second) {
  // Days from civil, for the proleptic Gregorian calendar.
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

// Weekday of the date, 1 Monday .. 7 Sunday.
int64_t WeekdayOf(int64_t year, int64_t month, int64_t day) {
  int64_t days = AsUtc(year, month, day, 0, 0, 0) / 86400;  // exact: a whole day
  return ((days + 3) % 7 + 7) % 7 + 1;
}

int64_t MonthDays(int64_t year, int64_t month) {
  static const int64_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Fields that name a real date and time of years 1 to 9999, weekday unknown
// or the date's own.
bool RealFields(const TimeTelegram& t) {
  if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > MonthDays(t.year, t.month)) return false;
  if (t.weekday != 0 && t.weekday != WeekdayOf(t.year, t.month, t.day)) return false;
  return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
         t.second < 60;
}

// A real date of the years the model follows exactly.
bool RealDate(const TimeTelegram& t) { return RealFields(t) && t.year >= 1971 && t.year <= 2999; }

// 01:00 UTC on the last Sunday of the month.
int64_t LastSundayOneUtc(int64_t year, int64_t month) {
  return AsUtc(year, month, 31, 1, 0, 0) - (WeekdayOf(year, month, 31) % 7) * 86400;
}

// The telegram's UTC seconds: the zone bit's, or the German rule's. Returns
// the number of instants its local time names (0, 1 or 2; the nearer to the
// capture in *utc).
int TelegramUtcModel(const TimeTelegram& t, int64_t* utc) {
  int64_t local = AsUtc(t.year, t.month, t.day, t.hour, t.minute, t.second);
  if ((t.Z1 != 0) != (t.Z2 != 0)) {
    *utc = local - (t.Z1 != 0 ? 7200 : 3600);
    return 1;
  }
  int64_t start = LastSundayOneUtc(t.year, 3), end = LastSundayOneUtc(t.year, 10);
  bool summer = local - 7200 >= start && local - 7200 < end;
  bool winter = !(local - 3600 >= start && local - 3600 < end);
  *utc = summer ? local - 7200 : local - 3600;
  if (summer && winter && llabs(local - 3600 - t.capture.time) < llabs(*utc - t.capture.time)) {
    *utc = local - 3600;
  }
  return (summer ? 1 : 0) + (winter ? 1 : 0);
}

// The time daemon's sample of a telegram, against the calendar model.
void CheckSample(const TimeTelegram& t) {
  // Alone (a count of one) through a fresh decision, then to the feed.
  SettingsRecord alone;
  DefaultSettings(&alone);
  alone.ValidDateTimeCount = 1;
  RunState fresh;
  ResetRunState(&fresh);
  PollDecision d;
  StartDecision(&d);
  DecideTelegram(&t, 0, &alone, &fresh.counting, &fresh.chain, NULL, &d);
  ReferenceSample s;
  int fed = d.trusted && MakeReferenceSample(&d.sample, &s);
  bool real = t.year >= 1970 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
              t.day <= MonthDays(t.year, t.month) && t.hour >= 0 &&
              t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60 &&
              t.millisecond >= 0 && t.millisecond < 1000 && t.capture.millitm < 1000;
  int64_t utc = 0;
  int instants = real && RealDate(t) ? TelegramUtcModel(t, &utc) : 0;
  FUZZ_CHECK(!fed || real);
  // Only a valid telegram is trusted, and so fed.
  if (RealDate(t)) FUZZ_CHECK(fed == (t.valid != 0 && real && instants == 1 ? 1 : 0));
  if (!fed) return;
  if (RealDate(t)) FUZZ_CHECK(s.referenceSeconds == utc);
  FUZZ_CHECK(s.referenceNanoseconds == t.millisecond * 1000000);
  FUZZ_CHECK(s.systemSeconds == t.capture.time);
  FUZZ_CHECK(s.systemNanoseconds == t.capture.millitm * 1000000);
  double apart = ((double)s.referenceSeconds - (double)s.systemSeconds) +
                 (t.millisecond - t.capture.millitm) / 1000.0;
  FUZZ_CHECK(fabs(s.offset - apart) <= 1e-6 + fabs(apart) * 1e-15);
  FUZZ_CHECK(s.leap == LeapNone || s.leap == LeapInsert);
  // The next UTC midnight after the reference, and whether it is one a leap
  // second may precede.
  int64_t intoDay = (s.referenceSeconds % 86400 + 86400) % 86400;
  int64_t midnight = s.referenceSeconds - intoDay + 86400;
  bool lastHour = s.referenceSeconds >= midnight - 3600 &&
                  (midnight == AsUtc(t.year, 1, 1, 0, 0, 0) ||
                   midnight == AsUtc(t.year, 7, 1, 0, 0, 0) ||
                   midnight == AsUtc(t.year + 1, 1, 1, 0, 0, 0));
  FUZZ_CHECK(s.leap == (t.A2 != 0 && lastHour ? LeapInsert : LeapNone));
}

// Checks a telegram handed to the evaluation directly, whose fields are known.
void EvaluateKnown(TimeTelegram telegram, int64_t captureMonoMs) {
  CheckSample(telegram);
  const int callsBefore = FakeClock.calls;
  const int32_t countBefore = Counting.ContValidTime;
  PollDecision decision;
  StartDecision(&decision);
  DecideTelegram(&telegram, captureMonoMs, &Settings, &Run.counting, &Run.chain, NULL, &decision);
  FUZZ_CHECK(decision.lineCount >= 2 && decision.lineCount <= DecisionLineCount);
  for (int32_t i = 0; i < decision.lineCount; ++i) {
    FUZZ_CHECK(memchr(decision.lines[i], '\0', DecisionLineSize) != nullptr);
  }
  CarryOutDecision(&Run, &decision);
  // The clock is set when the decision says so: the system call is reached
  // once for an instant the system takes, and one it cannot take (before
  // 1970) is refused before it, as the platform refuses it (EINVAL).
  const bool set = decision.setClock != 0;
  const bool reached = FakeClock.calls != callsBefore;
  FUZZ_CHECK(!reached || (set && FakeClock.calls == callsBefore + 1));
  FUZZ_CHECK(!set || reached || EndsWith(LastLogLine, "Can't set time! errno 22\n"));
  FUZZ_CHECK(!decision.setClock || decision.trusted);
  if (telegram.valid == 0) {
    FUZZ_CHECK(Counting.ContValidTime == 0);
    FUZZ_CHECK(FakeClock.calls == callsBefore);
    return;
  }
  FUZZ_CHECK(Counting.ContValidTime == countBefore || Counting.ContValidTime == countBefore + 1);
  FUZZ_CHECK(!set || (Settings.DCFSetTime != 0 && Counting.ContValidTime >= Settings.ValidDateTimeCount));
  // Beyond a count of one the chain must hold as many agreeing telegrams.
  FUZZ_CHECK(!set || Settings.ValidDateTimeCount <= 1 ||
             Run.chain.length >= Settings.ValidDateTimeCount);
  if (Settings.ValidDateTimeCount > 1) return;
  FUZZ_CHECK(!set || (RealFields(telegram) && telegram.millisecond >= 0));
  if (!RealDate(telegram) || telegram.millisecond < 0) return;
  // Hundredths above 99 (a millisecond of 1000 or more) name no instant.
  if (telegram.millisecond > 999) {
    FUZZ_CHECK(!set && !decision.trusted);
    return;
  }

  // The telegram's UTC from its own zone or the German rule: the difference,
  // and with it whether the clock must be set.
  int64_t telegramUtc = 0;
  int instants = TelegramUtcModel(telegram, &telegramUtc);
  FUZZ_CHECK(!set || instants == 1);
  double differenceMs = ((double)telegram.capture.time - (double)telegramUtc) * 1000.0 +
                        telegram.capture.millitm - (telegram.millisecond >= 1000 ? 0 : telegram.millisecond);
  bool due = Settings.DCFSetTime != 0 && Counting.ContValidTime >= Settings.ValidDateTimeCount &&
             fabs(differenceMs) >= (double)Settings.SynchronizeDiff &&
             fabs(differenceMs) / 3600000.0 <= (double)Settings.SynchronizeMaxDiff;
  if (instants != 1) {
    // Refused with its reason as the last line.
    FUZZ_CHECK(!set);
    if (due) {
      FUZZ_CHECK(strcmp(decision.lines[decision.lineCount - 1], instants == 2
                                           ? "Repeated hour without time zone, can't synchronize time..."
                                           : "Can't set time! errno 22") == 0);
    }
    return;
  }
  FUZZ_CHECK(set == due);
  if (!set) return;

  // The instant requested is the clock now less the difference, in UTC,
  // give or take the time the run took.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  double wanted = (double)now.tv_sec * 1000.0 + (double)(now.tv_nsec / 1000000) - differenceMs;
  if (!reached) {
    FUZZ_CHECK(wanted < 5000.0);  // refused: an instant before 1970
    return;
  }
  double requested = (double)FakeClock.seconds * 1000.0 + (double)FakeClock.milliseconds;
  FUZZ_CHECK(requested - wanted >= -5000.0 && requested - wanted <= 5000.0);
  FUZZ_CHECK(FakeClock.milliseconds >= 0 && FakeClock.milliseconds < 1000);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzQuietProgram();
  Os.OpenFile = OpenLogNowhere;
  Os.PutText = CatchLogText;
  Os.FlushFile = FlushLog;
  Os.CloseFile = CloseLog;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  ResetSettings();
  Settings.century = input.ConsumeIntegral<int32_t>();
  Settings.SynchronizeDiff = input.ConsumeIntegral<int32_t>();
  Settings.SynchronizeMaxDiff = input.ConsumeIntegral<int32_t>();
  Settings.ValidDateTimeCount = input.ConsumeIntegral<int32_t>();
  Settings.DCFSetTime = input.ConsumeIntegralInRange<int32_t>(0, 1);
  Settings.WriteData = input.ConsumeIntegralInRange<int32_t>(0, 1);
  Settings.WriteLog = 1;  // to nowhere: the last line caught (LastLogLine)
  ResetRunState(&Run);
  Counting.ContValidTime = input.ConsumeIntegral<int32_t>();
  Counting.year = input.ConsumeIntegral<int32_t>();
  Counting.minute = input.ConsumeIntegral<int32_t>();
  ResetFakeClock();
  FakeClock.fail = input.ConsumeIntegralInRange<int>(0, 1);
  FakeClock.failCode = input.ConsumeIntegral<uint32_t>();

  while (input.remaining_bytes() > 0) {
    int kind = input.ConsumeIntegralInRange<int>(0, 2);
    if (kind == 2) {
      TimeTelegram telegram;
      std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(sizeof telegram);
      bytes.resize(sizeof telegram);
      memcpy(&telegram, bytes.data(), sizeof telegram);
      // The capture is a reading of a PC clock: any time from 1970 to the
      // 23rd century.
      telegram.capture.time = (int64_t)((uint64_t)telegram.capture.time % (1ull << 33));
      telegram.capture.millitm = (uint16_t)(telegram.capture.millitm % 1000);
      EvaluateKnown(telegram, input.ConsumeIntegral<int64_t>() / 4);
      continue;
    }
    // Exactly the frame's length: a read beyond it is a sanitizer finding.
    size_t length = kind == 0 ? (size_t)RawTelegramFrameSize : (size_t)DecodedTimeFrameSize;
    std::vector<uint8_t> frame = input.ConsumeBytes<uint8_t>(length);
    frame.resize(length);
    const int callsBefore = FakeClock.calls;
    CarryOutAnswer(&Run, frame.data(), kind == 0 ? FrameRaw : FrameDecodedTime);
      if (FakeClock.calls != callsBefore) {
      FUZZ_CHECK(Settings.DCFSetTime != 0 && Counting.ContValidTime >= Settings.ValidDateTimeCount);
    }
  }
  return 0;
}
