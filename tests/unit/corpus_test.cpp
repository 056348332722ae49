// Telegrams received off the air: each one, packed into the module's 26-byte
// raw answer, must decode to the date and time listed with it, and the ones
// listed with parity problems must be reported with exactly those problems.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decode.h"
#include "config/paths.h"
#include "driver/poll.h"
#include "support/testutil.h"

namespace {

struct Received {
  int lineNumber;
  std::string bits;                  // telegram bit 0 first
  std::set<std::string> complaints;  // expected parity messages
  std::string date, time;            // YYYY-MM-DD, hh:mm:ss
};

std::vector<Received> LoadCorpus() {
  std::vector<Received> corpus;
  std::ifstream in("dcf77-received-minutes.txt");
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    Received r;
    r.lineNumber = number;
    if (!(words >> r.bits) || r.bits.size() != 60 ||
        r.bits.find_first_not_of("01") != std::string::npos)
      continue;
    std::string word;
    while (words >> word) {
      if (word == "p1") r.complaints.insert("Bad minute parity!");
      else if (word == "p2") r.complaints.insert("Bad hour parity!");
      else if (word == "p3") r.complaints.insert("Bad date parity!");
      else if (r.date.empty()) r.date = word;
      else if (r.time.empty()) r.time = word;
    }
    corpus.push_back(r);
  }
  return corpus;
}

TEST(ReceivedTelegrams, DecodeToTheirListedTimeWithTheListedParityProblems) {
  std::vector<Received> corpus = LoadCorpus();
  ASSERT_EQ(corpus.size(), 440u) << "telegram corpus missing or changed";
  ResetProgramState();
  int withProblems = 0;
  for (const Received& r : corpus) {
    unsigned char frame[RawTelegramFrameSize] = {};
    frame[13] = 59;
    for (int n = 0; n < 59; ++n) {
      if (r.bits[n] == '1') frame[15 + n / 8] |= (unsigned char)(1u << (n % 8));
    }
    remove(Paths.log);
    testing::internal::CaptureStdout();  // the console copy of the log lines
    CarryOutAnswer(&TestRun, frame, FrameRaw);
    testing::internal::GetCapturedStdout();
    std::vector<std::string> lines = LoggedMessages();

    std::set<std::string> complaints;
    size_t flagLine = 0;
    while (flagLine < lines.size() && lines[flagLine].rfind("R:", 0) != 0)
      complaints.insert(lines[flagLine++]);
    EXPECT_EQ(complaints, r.complaints) << "line " << r.lineNumber;
    ASSERT_LT(flagLine + 1, lines.size()) << "line " << r.lineNumber;
    withProblems += !r.complaints.empty();

    // "hh:mm:00.000 DD.MM.YYYY weekday" against "YYYY-MM-DD hh:mm:ss".
    char expected[32];
    snprintf(expected, sizeof expected, "%s:00.000 %s.%s.%s ", r.time.substr(0, 5).c_str(),
             r.date.substr(8, 2).c_str(), r.date.substr(5, 2).c_str(),
             r.date.substr(0, 4).c_str());
    EXPECT_EQ(lines[flagLine + 1].substr(0, 24), expected) << "line " << r.lineNumber;
    // Every telegram of the recording is of a winter day without announcements.
    EXPECT_EQ(lines[flagLine], "R:0 A1:0 Z1:0 Z2:1 A2:0 S:1") << "line " << r.lineNumber;
  }
  EXPECT_EQ(withProblems, 13);
}

}  // namespace
