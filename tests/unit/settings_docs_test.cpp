// Every key of the settings table is named where users look for it: the
// manual page, the package's sample settings, the Windows README and the
// README's tables, each in the form that document gives its keys in. A key
// added as a table row without its documentation fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "config/settings.h"

namespace {

std::string Source(const char* relative) {
  std::ifstream in(std::string(DCF_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SettingsDocumentation, EveryKeyIsNamedInEachDocument) {
  const struct {
    const char* file;
    const char* before;  // what comes before the key, as a regular expression
    const char* after;   // and after it
  } documents[] = {
      {"packaging/dcfsync.8.in", "(^|\\n)\\.BR? ", "([ \\n])"},  // .BR key " (default)"
      {"packaging/dcfsync.ini.in", "(^|\\n);?", "="},           // key=value, or ;key=value
      {"packaging/windows/README.txt.in", "\\n  ", " "},         // the list of keys
      {"README.md", "\\n\\| `", "` \\|"},                         // a row of a keys table
  };
  ASSERT_GT(SettingCount, 13u);
  for (const auto& d : documents) {
    const std::string text = Source(d.file);
    ASSERT_FALSE(text.empty()) << d.file;
    for (size_t i = 0; i < SettingCount; ++i) {
      const std::string key = SettingDefinitions[i].key;
      EXPECT_TRUE(std::regex_search(text, std::regex(d.before + key + d.after)))
          << d.file << " does not name " << key;
    }
  }
}

TEST(SettingsDocumentation, NoAddedKeyBeginsAnotherOrIsBegunByOne) {
  // Keys match by prefix: an added key that began another, or that another
  // began, would read the other's line.
  auto upper = [](std::string s) {
    for (char& c : s) c = (char)toupper((unsigned char)c);
    return s;
  };
  for (size_t i = 0; i < SettingCount; ++i) {
    EXPECT_FALSE(SettingDefinitions[i].help == nullptr || SettingDefinitions[i].help[0] == '\0')
        << SettingDefinitions[i].key;
    for (size_t j = 0; j < SettingCount; ++j) {
      if (i == j || !(SettingDefinitions[i].added || SettingDefinitions[j].added)) continue;
      const std::string a = upper(SettingDefinitions[i].key), b = upper(SettingDefinitions[j].key);
      EXPECT_NE(b.compare(0, a.size(), a), 0) << a << " begins " << b;
    }
  }
  // The thirteen come first, the added keys after them.
  for (size_t i = 0; i < SettingCount; ++i) EXPECT_EQ(SettingDefinitions[i].added, i >= 13 ? 1 : 0);
}

}  // namespace
