// Golden console transcripts: reading them and matching a console against them.
#include "support/golden.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/testutil.h"

namespace {

// Every character that is special in a regular expression gets a backslash.
std::string Literal(const std::string& text) {
  static const std::string special = "\\^$.|?*+()[]{}";
  std::string out;
  for (char c : text) {
    if (special.find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// The expression of one built-in placeholder ("HEX 26" and the like), or ""
// when there is none of that name.
std::string Builtin(const std::string& name) {
  if (name == "TS") return "[0-3][0-9]\\.[01][0-9]\\.[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9] ";
  if (name.rfind("HEX ", 0) == 0) return "([0-9A-F]{2} ){" + name.substr(4) + "}";
  if (name == "BIT") return "[01]";
  if (name == "TIME") return "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}";
  if (name == "DATE") return "[0-3][0-9]\\.[01][0-9]\\.[0-9]{4}";
  if (name == "WEEKDAY") return "(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday)";
  if (name == "DIFF") return "-?0d 00:00:0[0-4]\\.[0-9]{3}";
  if (name == "ANYDIFF") return "-?[0-9]+d [0-9]{2}:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}";
  if (name == "N") return "[0-9]+";
  return "";
}

}  // namespace

std::string GoldenRegex(const std::string& line, const GoldenValues& values) {
  std::string regex;
  size_t at = 0;
  while (at < line.size()) {
    size_t open = line.find('{', at);
    size_t close = open == std::string::npos ? open : line.find('}', open);
    if (close == std::string::npos) {
      regex += Literal(line.substr(at));
      break;
    }
    regex += Literal(line.substr(at, open - at));
    std::string name = line.substr(open + 1, close - open - 1);
    auto given = values.find(name);
    if (given != values.end()) {
      regex += Literal(given->second);
    } else if (!Builtin(name).empty()) {
      regex += Builtin(name);
    } else {
      ADD_FAILURE() << "unknown placeholder {" << name << "} in: " << line;
    }
    at = close + 1;
  }
  return regex;
}

std::vector<std::string> GoldenLines(const std::string& scenario) {
  std::string path = std::string(DCF_GOLDEN_DIR) + "/" + scenario + ".txt";
  std::vector<std::string> lines;
  for (const std::string& line : SplitLines(ReadFile(path))) {
    if (line.empty() || line[0] != '#') lines.push_back(line);
  }
  EXPECT_FALSE(lines.empty()) << "no golden transcript " << path;
  return lines;
}

bool ExpectTranscript(const std::string& scenario, const std::string& console,
                      const GoldenValues& values) {
  std::vector<std::string> golden = GoldenLines(scenario);
  std::vector<std::string> shown;
  for (std::string line : SplitLines(console)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    shown.push_back(line);
  }
  bool all = shown.size() == golden.size();
  EXPECT_EQ(golden.size(), shown.size()) << scenario << ": lines\n" << console;
  for (size_t i = 0; i < golden.size() && i < shown.size(); ++i) {
    bool matched = std::regex_match(shown[i], std::regex(GoldenRegex(golden[i], values)));
    EXPECT_TRUE(matched) << scenario << " line " << i + 1 << ": '" << shown[i]
                         << "' is not '" << golden[i] << "'";
    all = all && matched;
  }
  return all;
}

void ExpectLogIsConsole(const std::string& log, const std::string& console) {
  std::vector<std::string> shown;
  for (const std::string& line : ConsoleLines(console)) {
    if (HasTimestampPrefix(line)) shown.push_back(line);
  }
  EXPECT_EQ(shown, SplitLines(log));
}
