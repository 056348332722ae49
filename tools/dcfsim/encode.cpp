// German legal time from UTC and the DCF77 telegram and module answers.
#include "encode.h"

#include <string.h>

#include "clock/calendar.h"

enum { AnnounceWindow = 59 * 60 };

void LegalMinuteAt(int64_t utcSeconds, LegalMinute* minute) {
  int64_t start = FloorDivide(utcSeconds, 60) * 60;
  int64_t utcYear = CivilFromDays(FloorDivide(start, SecondsPerDay)).year;
  int64_t on = CestStartUtc(utcYear);
  int64_t off = CestEndUtc(utcYear);
  minute->cest = (start >= on && start < off) ? 1 : 0;
  // Telegrams sent in the hour before a change announce it: the minutes
  // from 59 before the change up to the first one of the new zone.
  minute->announce = ((start >= on - AnnounceWindow && start <= on) ||
                      (start >= off - AnnounceWindow && start <= off)) ? 1 : 0;

  int64_t local = start + (int64_t)(1 + minute->cest) * SecondsPerHour;
  int64_t days = FloorDivide(local, SecondsPerDay);
  int64_t ofDay = local - days * SecondsPerDay;
  CivilDate date = CivilFromDays(days);
  minute->year = (int)date.year;
  minute->month = date.month;
  minute->day = date.day;
  minute->weekday = WeekdayOfDays(days);
  minute->hour = (int)(ofDay / SecondsPerHour);
  minute->minute = (int)(ofDay % SecondsPerHour / 60);
}

int LegalToUtc(int year, int month, int day, int hour, int minute, int cest, int64_t* utc) {
  if (day < 1 || day > MonthLength(year, month)) return 0;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return 0;
  int64_t local = DaysFromCivil(year, month, day) * SecondsPerDay + hour * SecondsPerHour +
                  minute * SecondsPerMinute;
  int64_t candidate = local - (int64_t)(1 + (cest ? 1 : 0)) * SecondsPerHour;
  LegalMinute check;
  LegalMinuteAt(candidate, &check);
  if (check.cest != (cest ? 1 : 0)) return 0;
  *utc = candidate;
  return 1;
}

void ModuleTimeAt(int64_t utcMilliseconds, ModuleTime* time) {
  int64_t seconds = FloorDivide(utcMilliseconds, 1000);
  int64_t millis = utcMilliseconds - seconds * 1000;
  LegalMinuteAt(seconds, &time->minute);
  time->second = (int)(seconds - FloorDivide(seconds, 60) * 60);
  time->hundredths = (int)(millis / 10);
}

static void PutBits(unsigned char* bits, int first, int width, unsigned value) {
  for (int i = 0; i < width; ++i) {
    int n = first + i;
    if ((value >> i) & 1u) bits[n / 8] = (unsigned char)(bits[n / 8] | (1u << (n % 8)));
  }
}

static unsigned Bcd(int value) { return (unsigned)(value / 10 * 16 + value % 10); }

// 1 when the bits first..last hold an odd number of ones.
static unsigned OddOnes(const unsigned char* bits, int first, int last) {
  unsigned ones = 0;
  for (int n = first; n <= last; ++n) ones += (bits[n / 8] >> (n % 8)) & 1u;
  return ones & 1u;
}

void EncodeTelegram(const LegalMinute* minute, unsigned char bits[TelegramBytes]) {
  memset(bits, 0, TelegramBytes);
  PutBits(bits, 16, 1, (unsigned)minute->announce);
  PutBits(bits, 17, 1, minute->cest ? 1u : 0u);
  PutBits(bits, 18, 1, minute->cest ? 0u : 1u);
  PutBits(bits, 20, 1, 1u);
  PutBits(bits, 21, 7, Bcd(minute->minute));
  PutBits(bits, 28, 1, OddOnes(bits, 21, 27));
  PutBits(bits, 29, 6, Bcd(minute->hour));
  PutBits(bits, 35, 1, OddOnes(bits, 29, 34));
  PutBits(bits, 36, 6, Bcd(minute->day));
  PutBits(bits, 42, 3, (unsigned)minute->weekday);
  PutBits(bits, 45, 5, Bcd(minute->month));
  PutBits(bits, 50, 8, Bcd((minute->year % 100 + 100) % 100));
  PutBits(bits, 58, 1, OddOnes(bits, 36, 57));
}

void BuildRawAnswer(const ModuleTime* time, int fault, unsigned char frame[RawAnswerSize]) {
  memset(frame, 0, RawAnswerSize);
  frame[0] = fault == FrameMarks ? 0x01 : 0x00;
  frame[1] = (unsigned char)time->second;
  frame[12] = fault == FrameIncomplete ? 0x01 : 0x00;
  // An interrupted reception: the bits gathered before the loss.
  frame[13] = fault == FrameIncomplete ? 37 : 59;
  EncodeTelegram(&time->minute, frame + 15);
  if (fault == FrameNoZone) frame[15 + 2] = (unsigned char)(frame[15 + 2] & ~0x06u);  // bits 17, 18
  // Minute bit 21 (weight 1) flipped, its parity bit 28 left as it was.
  if (fault == FrameParity) frame[15 + 21 / 8] ^= (unsigned char)(1u << (21 % 8));
  // Two bits of one block flipped: bits 29 and 30 of the hour, 21 and 22 of the minute.
  if (fault == FrameFlipHour) frame[15 + 29 / 8] ^= (unsigned char)(3u << (29 % 8));
  if (fault == FrameFlipMinute) frame[15 + 21 / 8] ^= (unsigned char)(3u << (21 % 8));
  frame[24] = (unsigned char)time->hundredths;
}

// value with the bits of weight 1 and 2 of its BCD form flipped.
static int FlipTwoBits(int value) {
  unsigned bcd = Bcd(value) ^ 3u;
  return (int)((bcd >> 4) * 10 + (bcd & 0x0Fu));
}

void BuildDecodedAnswer(const ModuleTime* time, int fault,
                        unsigned char frame[DecodedAnswerSize]) {
  const LegalMinute* m = &time->minute;
  unsigned flags = (unsigned)m->announce;
  if (fault != FrameNoZone) flags |= m->cest ? 0x02u : 0x04u;
  if (fault == FrameParity) flags |= 0x10u;
  if (fault != FrameIncomplete) flags |= 0x80u;
  frame[0] = (unsigned char)flags;
  frame[1] = (unsigned char)(fault == FrameFlipMinute ? FlipTwoBits(m->minute) : m->minute);
  frame[2] = (unsigned char)(fault == FrameFlipHour ? FlipTwoBits(m->hour) : m->hour);
  frame[3] = (unsigned char)m->day;
  frame[4] = (unsigned char)(m->month | (m->weekday << 4));
  frame[5] = (unsigned char)((m->year % 100 + 100) % 100);
  frame[6] = (unsigned char)time->second;
  frame[7] = fault == FrameMarks ? 0x01 : 0x00;
  frame[8] = (unsigned char)time->hundredths;
  frame[9] = 0;
}

static double NextRandom(uint32_t* state) {  // xorshift32, uniform in [0, 1)
  uint32_t x = *state != 0 ? *state : 1;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return (double)x / 4294967296.0;
}

int BuildPulseTimeline(int64_t fromUtcMs, int minutes, int64_t offsetMs, const PulseFaults* f,
                       PulseTimelineEdge* edges, int capacity) {
  uint32_t random = f->seed;
  int count = 0;
  auto put = [&](int64_t at, int level) {
    if (count < capacity) edges[count++] = {at, level != f->invert};
  };
  put(fromUtcMs, 0);
  int64_t first = FloorDivide(fromUtcMs + offsetMs, 1000) + 1;  // shown seconds
  unsigned char bits[TelegramBytes];
  for (int64_t shown = first; shown < first + (int64_t)minutes * 60; ++shown) {
    int second = (int)(shown - FloorDivide(shown, 60) * 60);
    if (second == 0 || shown == first) {
      LegalMinute next;
      LegalMinuteAt(shown - second + 60, &next);
      EncodeTelegram(&next, bits);
    }
    int64_t rise = shown * 1000 - offsetMs + f->delayMs;
    auto jitter = [&]() {
      return f->jitterMs > 0 ? (int64_t)((NextRandom(&random) * 2 - 1) * f->jitterMs) : 0;
    };
    if (second != 59 && NextRandom(&random) >= f->lost) {
      int one = (bits[second / 8] >> (second % 8)) & 1;
      if (NextRandom(&random) < f->flip) one = !one;
      put(rise + jitter(), 1);
      put(rise + (one ? 200 : 100) + jitter(), 0);
    }
    if (NextRandom(&random) < f->glitch) {
      int64_t at = rise + 300 + (int64_t)(NextRandom(&random) * 500);
      put(at, 1);
      put(at + 5 + (int64_t)(NextRandom(&random) * 75), 0);
    }
  }
  return count;
}
