// The reception state from inputs (trusted or not, monotonic ms, poll
// seconds) to its changes and lines, and the status line made of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clock/reception.h"

namespace {

const int64_t Min = 60000;

struct Step {
  int trusted;
  int64_t ms;
  const char* line;  // the change's line; "" for none
  int32_t kind;      // the state after
};

TEST(Reception, ChangesFromInputs) {
  const struct {
    const char* name;
    int32_t pollSeconds;
    std::vector<Step> steps;
  } cases[] = {
      {"in step at the first trusted telegram; the limit counts from the last", 0,
       {{1, 2000, "(first)", ReceptionInStep}, {1, 62000, "", ReceptionInStep},
        {0, 62000 + 15 * Min - 1, "", ReceptionInStep}}},
      {"holding over after 15 min, lost after 2 h, once each, and back", 60,
       {{1, 0, "(first)", ReceptionInStep}, {0, 15 * Min - 1, "", ReceptionInStep},
        {0, 15 * Min, "Reception holding over: no trusted telegram for 15 min", ReceptionHoldingOver},
        {0, 16 * Min, "", ReceptionHoldingOver}, {0, 120 * Min - 1, "", ReceptionHoldingOver},
        {0, 120 * Min, "Reception lost: no trusted telegram for 2 h 0 min", ReceptionLost},
        {0, 900 * Min, "", ReceptionLost},
        {1, 903 * Min + 5000,
         "Reception in step again after 15 h 3 min without a trusted telegram", ReceptionInStep}}},
      {"a negative poll counts as none; back from holding over", -5,
       {{1, 0, "(first)", ReceptionInStep},
        {0, 15 * Min, "Reception holding over: no trusted telegram for 15 min", ReceptionHoldingOver},
        {1, 21 * Min, "Reception in step again after 21 min without a trusted telegram",
         ReceptionInStep}}},
      {"long polls: 3 and 8 polls of 17 min are longer than 15 min and 2 h", 17 * 60,
       {{1, 0, "(first)", ReceptionInStep}, {0, 51 * Min - 1, "", ReceptionInStep},
        {0, 51 * Min, "Reception holding over: no trusted telegram for 51 min", ReceptionHoldingOver},
        {0, 136 * Min - 1, "", ReceptionHoldingOver},
        {0, 136 * Min, "Reception lost: no trusted telegram for 2 h 16 min", ReceptionLost}}},
      {"never a trusted telegram: starting, then lost from the first update", 60,
       {{0, 5000, "", ReceptionStarting}, {0, 5000 + 120 * Min - 1, "", ReceptionStarting},
        {0, 5000 + 120 * Min, "Reception lost: no trusted telegram in the first 2 h 0 min",
         ReceptionLost},
        {1, 200 * Min, "Reception in step again after 3 h 19 min without a trusted telegram",
         ReceptionInStep}}},
      {"a gap longer than both limits goes straight to lost, its line the whole gap", 60,
       {{1, 0, "(first)", ReceptionInStep},
        {0, 3 * 60 * Min, "Reception lost: no trusted telegram for 3 h 0 min", ReceptionLost}}},
  };
  for (const auto& c : cases) {
    ReceptionState state;
    ResetReception(&state);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(i));
      const Step& s = c.steps[i];
      char line[128] = "untouched";
      int changed = UpdateReception(&state, s.trusted, s.ms, c.pollSeconds, line, sizeof line);
      std::string want = std::string(s.line) == "(first)" ? "" : s.line;
      EXPECT_EQ(s.line[0] != '\0', changed == 1);
      EXPECT_EQ(changed ? want : "untouched", line);
      EXPECT_EQ(s.kind, state.kind);
    }
  }
}

TEST(Reception, LimitsAndSpans) {
  EXPECT_EQ(15 * Min, ReceptionStepLimitMs(0));
  EXPECT_EQ(15 * Min, ReceptionStepLimitMs(300));
  EXPECT_EQ(18 * Min, ReceptionStepLimitMs(360));
  EXPECT_EQ(120 * Min, ReceptionLostLimitMs(900));
  EXPECT_EQ(136 * Min, ReceptionLostLimitMs(1020));
  const std::pair<int64_t, const char*> spans[] = {
      {-5, "0 s"}, {999, "0 s"}, {59999, "59 s"}, {60000, "1 min"}, {3599999, "59 min"},
      {3600000, "1 h 0 min"}, {(2 * 60 + 3) * Min + 59000, "2 h 3 min"}};
  for (const auto& s : spans) {
    char text[32];
    FormatSpan(s.first, text, sizeof text);
    EXPECT_STREQ(s.second, text) << s.first;
  }
  EXPECT_STREQ("holding over", ReceptionName(ReceptionHoldingOver));
  EXPECT_STREQ("?", ReceptionName(9));
}

TEST(Reception, StatusLine) {
  struct Row {
    int32_t kind;
    int64_t sinceMs, lastMs, nowMs;
    double offset;
    int32_t sets;
    const char* feed;
    const char* expected;
  } rows[] = {
      {ReceptionInStep, 0, 100000, 114500, 0.44, 12, "chrony reading",
       "in step: last trusted telegram 14 s ago, offset +0.4 ms, 12 sets today; feed: chrony reading"},
      {ReceptionInStep, 0, 0, 0, -3.06, 1, "",
       "in step: last trusted telegram 0 s ago, offset -3.1 ms, 1 set today"},
      {ReceptionHoldingOver, 10 * Min, 0, (10 + 123) * Min, 0, 0, "",
       "holding over since 10:14 (2 h 3 min), no trusted telegram"},
      {ReceptionLost, 120 * Min, 0, 180 * Min, 0, 0, "shm unit 2 no reader",
       "lost since 10:14 (1 h 0 min), no trusted telegram for 3 h 0 min; feed: shm unit 2 no reader"},
      {ReceptionStarting, 0, 0, 5 * Min, 0, 0, "", "starting since 10:14 (5 min), no trusted telegram yet"},
  };
  for (const Row& r : rows) {
    ReceptionState state;
    ResetReception(&state);
    state.kind = r.kind;
    state.updated = 1;
    state.sinceMs = r.sinceMs;
    state.lastTrustedMs = r.lastMs;
    char out[256];
    FormatReceptionStatus(&state, r.nowMs, "10:14", r.offset, r.sets, r.feed, out, sizeof out);
    EXPECT_STREQ(r.expected, out);
  }
  ReceptionState state;  // cut to the buffer, never beyond it
  ResetReception(&state);
  char small[12];
  FormatReceptionStatus(&state, 0, "10:14", 0, 0, "chrony reading", small, sizeof small);
  EXPECT_STREQ("starting si", small);
}

}  // namespace
