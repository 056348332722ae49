// The pulse decoder from lists of edges to telegrams: the frame it builds is
// read by the raw decoder, so each case ends in the telegram the program
// would evaluate and the checks that failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "decode/decode.h"
#include "decode/pulse.h"

namespace {

// The 59 bits of a minute, encoded here (not by the simulator): CET, the
// given hour and minute on 10.12.2026, a Thursday; a2 announces a leap second.
struct Minute {
  int hour, minute, a2 = 0;
};
std::vector<int> Bits(const Minute& m) {
  std::vector<int> b(60, 0);
  auto field = [&](int first, int width, int value) {
    for (int i = 0; i < width; ++i) b[first + i] = (value >> i) & 1;
  };
  auto parity = [&](int first, int bit) {
    for (int n = first; n < bit; ++n) b[bit] ^= b[n];
  };
  auto bcd = [](int v) { return v / 10 * 16 + v % 10; };
  field(18, 3, 1 | m.a2 << 1 | 4);  // Z2 (CET), A2, S
  field(21, 7, bcd(m.minute));
  parity(21, 28);
  field(29, 6, bcd(m.hour));
  parity(29, 35);
  field(36, 22, bcd(10) | 4 << 6 | bcd(12) << 9 | bcd(26) << 14);  // day, weekday, month, year
  parity(36, 58);
  return b;
}

// A timeline of edges; times in ms from its start, the wall clock 1000 s
// ahead (µs). Minutes are added one after another from `at`.
struct Timeline {
  std::vector<PulseEdge> edges;
  int invert = 0;
  int64_t at = 0;
  void Edge(int64_t ms, int level) {
    edges.push_back({ms, (ms + 1000000) * 1000, level != invert});
  }
  void Pulse(int64_t rise, int width) { Edge(rise, 1); Edge(rise + width, 0); }
  // Pulses of seconds 0..58 (0..59 for a leap second), skip one second's
  // pulse, widths overridden per second.
  Timeline& Add(const Minute& m, int skip = -1, int leap = 0,
                std::vector<std::pair<int, int>> widths = {}) {
    std::vector<int> b = Bits(m);
    for (int s = 0; s < 59 + leap; ++s) {
      int width = s < 59 && b[s] ? 200 : 100;
      for (auto& w : widths) width = w.first == s ? w.second : width;
      if (s != skip) Pulse(at + s * 1000, width);
    }
    at += (60 + leap) * 1000;
    return *this;
  }
  Timeline& Tail() {  // three seconds of the next minute, so the last is final
    for (int s = 0; s < 3; ++s) Pulse(at + s * 1000, 100);
    return *this;
  }
};

struct Seen {
  std::vector<PulseOutput> telegrams, minutes;
  int32_t invert;
};
Seen Decode(Timeline t, int32_t invert = 0, int32_t delay = 0) {
  std::stable_sort(t.edges.begin(), t.edges.end(),
                   [](const PulseEdge& a, const PulseEdge& b) { return a.monoMs < b.monoMs; });
  PulseDecoder d;
  PulseDecoderStart(&d, invert, delay);
  Seen seen;
  for (const PulseEdge& e : t.edges) {
    PulseOutput out;
    int got = FeedPulseEdge(&d, &e, &out);
    EXPECT_EQ(got, out.telegram || out.minuteEnded);
    if (out.telegram) seen.telegrams.push_back(out);
    if (out.minuteEnded) seen.minutes.push_back(out);
  }
  seen.invert = d.invert;
  return seen;
}

// Minutes 14:30.. from t = 0 (the first one's start unknown to the decoder).
Timeline Clean(int minutes, int invert = 0) {
  Timeline t;
  t.invert = invert;
  for (int i = 0; i < minutes; ++i) t.Add({14, 30 + i});
  return t.Tail();
}

TEST(PulseDecoder, EdgeListsToTelegrams) {
  struct Case {
    const char* name;
    Timeline timeline;  // its invert also says whether the decoder must end inverted
    int32_t invert, delay;
    std::vector<int> minutes;      // the telegrams' minute fields, in order
    std::vector<int64_t> second0;  // their captures (monotonic ms)
    int failedChecks;              // of every telegram
  };
  Timeline glitches = Clean(3);
  for (int64_t s = 1; s < 175; s += 3) {
    glitches.Pulse(s * 1000 + 500, 10);  // a spike
    glitches.Pulse(s * 1000 + 620, 55);  // a pulse off the pace
  }
  for (int64_t s = 2; s < 175; s += 7) {  // a dropout inside a pulse
    glitches.Edge(s * 1000 + 50, 0);
    glitches.Edge(s * 1000 + 55, 1);
  }
  glitches.Pulse(180000 - 90, 45);  // 90 ms before second 0's: the one on the pace wins
  Timeline jitter;
  for (int i = 0; i < 3; ++i) {
    for (int s = 0; s < 59; ++s) {
      int64_t rise = i * 60000 + s * 1000 + (s * 7919 % 41) - 20;
      jitter.Pulse(rise, Bits({14, 30 + i})[s] ? 200 + s % 30 - 15 : 100 + s % 30 - 15);
    }
  }
  jitter.at = 180000;
  Timeline noise;  // another line: edges with no pace at all
  for (int64_t i = 1; i < 400; ++i) noise.Edge(i * 300 + i * 389 % 250, (int)(i & 1));
  // A first pulse off the pace of the real ones: after PulseOffPaceRun of
  // them the decoder follows the real pace, and the next minute decodes.
  Timeline offPace;
  offPace.Pulse(-1000 + 430, 100);

  Case cases[] = {
      {"clean", Clean(3), 0, 0, {31, 32}, {120000, 180000}, 0},
      {"delay", Clean(3), 0, 70, {31, 32}, {119930, 179930}, 0},
      {"glitches", glitches, 0, 0, {31, 32}, {120000, 180000}, 0},
      {"lost pulse", Timeline().Add({14, 30}).Add({14, 31}, 30).Add({14, 32}).Add({14, 33}), 0, 0,
       {32}, {180000}, 0},
      {"leap second", Timeline().Add({0, 58, 1}).Add({0, 59, 1}, -1, 1).Add({1, 0}).Add({1, 1}), 0,
       0, {59, 0}, {121000, 181000}, 0},
      {"jitter", jitter.Tail(), 0, 0, {31, 32}, {119980, 180000}, 0},
      {"bad width", Timeline().Add({14, 30}).Add({14, 31}, -1, 0, {{40, 330}}).Add({14, 32}), 0, 0,
       {31}, {120000}, 1},
      {"pace moves to a run off it", offPace.Add({14, 30}).Add({14, 31}).Tail(), 0, 0, {31},
       {120000}, 0},
      {"inverted set", Clean(3, 1), 1, 0, {31, 32}, {120000, 180000}, 0},
      {"inverted recognised", Clean(4, 1), 0, 0, {31, 32, 33}, {120000, 180000, 240000}, 0},
      {"noise", noise, 0, 0, {}, {}, 0},
      {"no edges", Timeline(), 0, 0, {}, {}, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Seen seen = Decode(c.timeline, c.invert, c.delay);
    ASSERT_EQ(seen.telegrams.size(), c.minutes.size());
    for (size_t i = 0; i < c.minutes.size(); ++i) {
      const PulseOutput& out = seen.telegrams[i];
      DecodeResult result;
      DecodeRawTelegram(out.frame, 2000, &result);
      EXPECT_EQ(1, result.complete);
      EXPECT_EQ(c.minutes[i], result.telegram.minute);
      EXPECT_EQ(c.minutes[i] == 59 ? 0 : c.minutes[i] == 0 ? 1 : 14, result.telegram.hour);
      EXPECT_EQ(2026, result.telegram.year);
      EXPECT_EQ(0, result.telegram.second);
      EXPECT_EQ(0, result.telegram.millisecond);
      EXPECT_EQ(c.failedChecks, result.failedCount);
      if (c.failedChecks) {
        EXPECT_EQ(CheckMarks, result.failed[0]);
      }
      EXPECT_EQ(c.second0[i], out.captureMonoMs);
      EXPECT_EQ((c.second0[i] + 1000000) * 1000, out.captureWallUs);  // the delay off both
    }
    EXPECT_EQ(c.timeline.invert != 0, seen.invert != 0);
  }
}

TEST(PulseDecoder, QualityOfEachMinute) {
  Timeline t = Clean(3);
  t.Pulse(61500, 20);  // a spike in minute 1
  Seen seen = Decode(t);
  ASSERT_EQ(3u, seen.minutes.size());  // the marks before minutes 1, 2 and 3
  const PulseQuality& q = seen.minutes[1].quality;
  EXPECT_EQ(59, q.pulses);
  EXPECT_EQ(1, q.glitches);
  EXPECT_EQ(100, q.zeroMs);
  EXPECT_EQ(200, q.oneMs);
  EXPECT_EQ(0, seen.minutes[2].quality.glitches);
}

}  // namespace
