// The settings file reader: which line a key is taken from, how values are
// trimmed, cut and converted, and what a missing or unreadable file gives.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/paths.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/testutil.h"

namespace {

class SettingsReader : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
};

// Looks key up in "[init]" of a settings file holding content; gives the
// result and the value as "1:value" (default "none").
std::string Lookup(const std::string& content, const char* key) {
  WriteFile(Paths.settings, content);
  char value[SettingTextSize];
  int found = ReadSettingString("[init]", key, value, sizeof value, "none", LogText);
  return std::to_string(found) + ":" + value;
}

std::string LookupInt(const std::string& content, const char* key) {
  WriteFile(Paths.settings, content);
  int32_t value = 0;
  int found = ReadSettingInt("[init]", key, &value, -77, LogText);
  return std::to_string(found) + ":" + std::to_string(value);
}

TEST_F(SettingsReader, OnlyLinesFromTheSectionLineOnAreCandidates) {
  EXPECT_EQ(Lookup("port=COM9\n[init]\nport=COM1\n", "port"), "1:COM1");
  EXPECT_EQ(Lookup("port=COM9\n[init]\n", "port"), "0:none");
  EXPECT_EQ(Lookup("; [init]\nport=COM9\n", "port"), "0:none");
  // Nothing ends the section: later headers do not hide their keys.
  EXPECT_EQ(Lookup("[init]\n[other]\nport=COM5\n", "port"), "1:COM5");
  // The section line matches in any case and after trimming.
  EXPECT_EQ(Lookup(" \t[InIt]  \r\nport=COM6\r\n", "port"), "1:COM6");
}

TEST_F(SettingsReader, FirstLineBeginningWithTheKeyWins) {
  const std::string enableFirst = "[init]\nTimerEnable=1\ntimer=5\n";
  EXPECT_EQ(LookupInt(enableFirst, "timer"), "1:1");
  EXPECT_EQ(LookupInt(enableFirst, "TimerEnable"), "1:1");
  EXPECT_EQ(LookupInt("[init]\ntimer=5\nTimerEnable=1\n", "timer"), "1:5");
  // Comments, empty lines and other keys are skipped.
  EXPECT_EQ(Lookup("[init]\n; port=COM9\nbaud=9600\n\nport=COM3\n", "port"), "1:COM3");
  // A key line without "=" does not match; scanning goes on.
  EXPECT_EQ(Lookup("[init]\nport COM1\nport=COM2\n", "port"), "1:COM2");
  EXPECT_EQ(Lookup("[init]\nport\n", "port"), "0:none");
}

TEST_F(SettingsReader, ValueIsTrimmedAndKeepsItsCase) {
  EXPECT_EQ(Lookup("[init]\nPORT   =   com2    \n", "port"), "1:com2");
  EXPECT_EQ(Lookup("[init]\r\n\tport\t=\tCOM4\t\r\n", "port"), "1:COM4");
  EXPECT_EQ(Lookup("[init]\na=b=c\n", "a"), "1:b=c");
  EXPECT_EQ(Lookup("[init]\nport=\n", "port"), "1:");
  // The last line needs no line end, to be found or not.
  EXPECT_EQ(Lookup("[init]\nport=COM8", "port"), "1:COM8");
  EXPECT_EQ(Lookup("[init]\nbaud=1", "port"), "0:none");
}

TEST_F(SettingsReader, LongLinesAreReadInPiecesOf253Characters) {
  // The second piece of this line begins with the key.
  EXPECT_EQ(Lookup("[init]\n" + std::string(253, '#') + "port=COM7\n", "port"), "1:COM7");
  // A line of exactly 253 characters and its line end hide nothing.
  EXPECT_EQ(Lookup("[init]\n" + std::string(253, '#') + "\nport=COM2\n", "port"), "1:COM2");
  // Only the first piece of a long value line counts.
  EXPECT_EQ(Lookup("[init]\nnote=" + std::string(300, 'v') + "\n", "note"),
            "1:" + std::string(253 - 5, 'v'));
}

TEST_F(SettingsReader, ValueIsCutToTheDestination) {
  WriteFile(Paths.settings, "[init]\nport=COM12345\n");
  char small[5];
  EXPECT_EQ(ReadSettingString("[init]", "port", small, sizeof small, "", LogText), 1);
  EXPECT_STREQ(small, "COM1");

  // A default that does not fit is cut as well.
  EXPECT_EQ(ReadSettingString("[init]", "baud", small, sizeof small, "defaultvalue", LogText), 0);
  EXPECT_STREQ(small, "defa");

  const std::string name29 = "/dev/serial/by-id/usb-rx-0123";
  WriteFile(Paths.settings, "[init]\nport=" + name29 + "XYZ\n");
  LoadSettings(LogText);
  EXPECT_EQ(std::string(Settings.port), name29);
}

TEST_F(SettingsReader, PortValueOf29CharactersIsKeptWholeAfterTrimming) {
  // The blanks around the value are not part of it and must not use up room.
  const std::string name29 = "/dev/serial/by-id/usb-rx-0123";
  ASSERT_EQ(name29.size(), (size_t)PortNameSize - 1);
  WriteFile(Paths.settings, "[init]\nport =   " + name29 + "  \n");
  EXPECT_EQ(ReadSettingString("[init]", "port", Settings.port, sizeof Settings.port, "", LogText), 1);
  EXPECT_EQ(std::string(Settings.port), name29);
}

TEST_F(SettingsReader, IntegerConversion) {
  const char* cases[][2] = {
      {"", "0"},       {"fast", "0"},        {"0x10", "0"},       {"5min", "5"},
      {"-2", "-2"},    {"+7", "7"},          {"- 3", "0"},        {"12 34", "12"},
      {"2147483647", "2147483647"},          {"-2147483648", "-2147483648"},
      {"2147483648", "2147483647"},          {"-2147483649", "-2147483648"},
      {"99999999999999999999", "2147483647"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LookupInt(std::string("[init]\nbaud=") + c[0] + "\n", "baud"),
              std::string("1:") + c[1])
        << "value \"" << c[0] << "\"";
  }
  EXPECT_EQ(LookupInt("[init]\nport=COM1\n", "baud"), "0:-77");
}

// The settings as ResetSettings gives them.
SettingsRecord Defaults() {
  SettingsRecord saved = Settings;
  ResetSettings();
  SettingsRecord defaults = Settings;
  Settings = saved;
  return defaults;
}

// The settings in declaration order, for readable comparisons.
std::vector<int32_t> Values(const SettingsRecord& s) {
  return {s.baud, s.timer, s.TimerEnable, s.century, s.WriteLog, s.WriteData, s.DCFSetTime,
          s.SynchronizeDiff, s.SynchronizeMaxDiff, s.ValidDateTimeCount, s.TimerGetDecodedTime};
}

TEST_F(SettingsReader, MissingFileGivesDefaultsAndOneMessagePerLookup) {
  strcpy(Settings.port, "stale");
  strcpy(Settings.ChronySocket, "/stale.sock");
  Settings.baud = 1;
  Settings.NtpShmUnit = 4;
  Settings.ClockDiscipline = 1;
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.port, "");
  EXPECT_EQ(Settings.ClockDiscipline, 0);
  EXPECT_EQ(Values(Settings), Values(Defaults()));
  // The feed's keys are not looked up in a file that cannot be opened: they
  // take their defaults, and the thirteen lines stay thirteen.
  EXPECT_STREQ(Settings.ChronySocket, "");
  EXPECT_EQ(Settings.NtpShmUnit, -1);
  EXPECT_EQ(LoggedMessages(),
            std::vector<std::string>(13, std::string("Can't open file ") + Paths.settings));
  EXPECT_FALSE(FileExists(Paths.settings));
}

TEST_F(SettingsReader, UnreadableFileGivesTheDefault) {
  // A directory in place of the file either cannot be opened or cannot be
  // read, depending on the system; either is reported and gives the default.
  std::filesystem::create_directory(Paths.settings);
  char value[SettingTextSize] = "garbage";
  EXPECT_EQ(ReadSettingString("[init]", "port", value, sizeof value, "COM1", LogText), 0);
  EXPECT_STREQ(value, "COM1");
  std::vector<std::string> messages = LoggedMessages();
  ASSERT_EQ(messages.size(), 1u);
  const std::string& m = messages[0];
  const std::string readError = std::string(" on ") + Paths.settings;
  EXPECT_TRUE(m == std::string("Can't open file ") + Paths.settings ||
              (m.rfind("Read error ", 0) == 0 && m.size() > readError.size() &&
               m.substr(m.size() - readError.size()) == readError))
      << m;
}

TEST_F(SettingsReader, UnreadableFileGivesThirteenLinesAndNoFeed) {
  // A directory in place of the file: it cannot be opened or cannot be read,
  // depending on the system. Either way the feed's keys are not looked up.
  std::filesystem::create_directory(Paths.settings);
  strcpy(Settings.ChronySocket, "/stale.sock");
  Settings.NtpShmUnit = 4;
  Settings.ClockDiscipline = 1;
  LoadSettings(LogText);
  EXPECT_EQ(13u, LoggedMessages().size());
  EXPECT_EQ(Settings.ClockDiscipline, 0);
  EXPECT_STREQ(Settings.ChronySocket, "");
  EXPECT_EQ(Settings.NtpShmUnit, -1);
}

TEST_F(SettingsReader, PulseKeysReadAfterTheThirteenOnlyFromAFile) {
  const struct {
    const char* file;  // nullptr: no settings file
    int32_t receiver, invert, delay;
    const char* line;
  } cases[] = {
      {nullptr, 0, 0, 0, "DCD"},
      {"[init]\nport=COM1\n", 0, 0, 0, "DCD"},
      {"[init]\nReceiver=1\nPulseLine=CTS\nPulseInvert=1\nPulseDelay=35\n", 1, 1, 35, "CTS"},
      {"[init]\npulseline = ri\npulsedelay=-5\n", 0, 0, -5, "ri"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(Paths.settings);
    if (c.file != nullptr) WriteFile(Paths.settings, c.file);
    Settings.Receiver = Settings.PulseInvert = Settings.PulseDelay = 9;
    strcpy(Settings.PulseLine, "XX");
    LoadSettings(LogText);
    EXPECT_EQ(Settings.Receiver, c.receiver) << (c.file ? c.file : "no file");
    EXPECT_EQ(Settings.PulseInvert, c.invert);
    EXPECT_EQ(Settings.PulseDelay, c.delay);
    EXPECT_STREQ(Settings.PulseLine, c.line);
  }
}

TEST_F(SettingsReader, LoadSettingsFillsEveryKeyAndWritesNothingBack) {
  const std::string content =
      "; receiver settings\r\n[INIT]\r\nport=COM3\r\ntz=CET\r\nbaud=9600\r\ntimer=5\r\n"
      "TimerEnable=1\r\ncentury=1900\r\nWriteLog=0\r\nWriteData=1\r\nDCFSetTime=1\r\n"
      "SynchronizeDiff=250\r\nSynchronizeMaxDiff=2\r\nValidDateTimeCount=4\r\n"
      "TimerGetDecodedTime=1\r\n";
  WriteFile(Paths.settings, content);
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.port, "COM3");
  EXPECT_EQ(Values(Settings), (std::vector<int32_t>{9600, 5, 1, 1900, 0, 1, 1, 250, 2, 4, 1}));
  EXPECT_EQ(ReadFile(Paths.settings), content);
  EXPECT_FALSE(FileExists(Paths.log));
}

TEST_F(SettingsReader, FeedKeysAreReadAfterTheThirteenAndMatchNoOtherKeysLine) {
  // Each feed key above the thirteen and each of the thirteen above them:
  // with prefix matching a key that began with another would read its line.
  const std::string socketPath = "/run/chrony/" + std::string(200, 's') + ".sock";
  const std::string content =
      "[init]\nClockDiscipline=1\nNtpShmUnit=7\nChronySocket = " + socketPath +
      " \r\nport=COM3\ntz=CET\nbaud=9600\ntimer=5\nTimerEnable=1\ncentury=1900\n"
      "WriteLog=0\nWriteData=1\nDCFSetTime=1\nSynchronizeDiff=250\nSynchronizeMaxDiff=2\n"
      "ValidDateTimeCount=4\nTimerGetDecodedTime=1\n";
  WriteFile(Paths.settings, content);
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.port, "COM3");
  EXPECT_EQ(Values(Settings), (std::vector<int32_t>{9600, 5, 1, 1900, 0, 1, 1, 250, 2, 4, 1}));
  EXPECT_EQ(std::string(Settings.ChronySocket), socketPath) << "kept whole, not cut to a socket address";
  EXPECT_EQ(Settings.NtpShmUnit, 7);
  EXPECT_EQ(Settings.ClockDiscipline, 1);

  // The thirteen first, the feed keys below them.
  WriteFile(Paths.settings,
            "[init]\nport=COM4\ntimer=2\nTimerEnable=1\nTimerGetDecodedTime=0\n"
            "ChronySocket=/run/dcf.sock\nNtpShmUnit=-1\n");
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.port, "COM4");
  EXPECT_EQ(Settings.timer, 2);
  EXPECT_STREQ(Settings.ChronySocket, "/run/dcf.sock");
  EXPECT_EQ(Settings.NtpShmUnit, -1);

  // Absent: off. An empty value: an empty path, and unit 0 (as any integer).
  WriteFile(Paths.settings, "[init]\nport=COM5\n");
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.ChronySocket, "");
  EXPECT_EQ(Settings.NtpShmUnit, -1);
  WriteFile(Paths.settings, "[init]\nChronySocket=\nNtpShmUnit=\n");
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.ChronySocket, "");
  EXPECT_EQ(Settings.NtpShmUnit, 0);
  EXPECT_FALSE(FileExists(Paths.log));
}

TEST(SettingsText, TrimAndUpperCase) {
  char text[] = "\t\v\f \r\n a b\xA0\x85 \n";
  EXPECT_EQ(Trim(text), text);
  EXPECT_STREQ(text, "a b\xA0\x85");
  char blanks[] = " \t\r\n";
  EXPECT_STREQ(TrimLeft(blanks), "");
  char right[] = "  x  ", left[] = "  x  ";
  EXPECT_STREQ(TrimRight(right), "  x");
  EXPECT_STREQ(TrimLeft(left), "x  ");
  char mixed[] = "az AZ 09 [init] \xE4\xFF";
  EXPECT_EQ(UpperCase(mixed), mixed);
  EXPECT_STREQ(mixed, "AZ AZ 09 [INIT] \xE4\xFF");
}

}  // namespace
