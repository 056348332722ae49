// The program's file names, derived from the executable's own path.
#include <gtest/gtest.h>

#include <string.h>

#include <filesystem>
#include <string>

#include "config/paths.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/testutil.h"

namespace {

// Runs DeriveFilePathsWith over stale path texts and describes the result as
// "console output | directory | base name | settings | log | data".
std::string Derive(const std::string& exePath, char separator, int bareNameIsBase) {
  for (char* text : {Paths.directory, Paths.baseName, Paths.settings, Paths.log, Paths.data}) {
    snprintf(text, PathTextSize, "stale");
  }
  testing::internal::CaptureStdout();
  DeriveFilePathsWith(exePath.c_str(), separator, bareNameIsBase);
  std::string result = testing::internal::GetCapturedStdout();
  for (const char* text : {Paths.directory, Paths.baseName, Paths.settings, Paths.log, Paths.data}) {
    result += std::string(" | ") + text;
  }
  return result;
}

TEST(FilePaths, ExtensionIsReplacedByTheFileKinds) {
  EXPECT_EQ(Derive("C:\\clock\\rx.exe", '\\', 0),
            " | C:\\clock | rx | C:\\clock\\rx.ini | C:\\clock\\rx.log | C:\\clock\\rx.dat");
  // Only the last dot ends the base name.
  EXPECT_EQ(Derive("C:\\clock\\rx.old.exe", '\\', 0),
            " | C:\\clock | rx.old | C:\\clock\\rx.old.ini | C:\\clock\\rx.old.log"
            " | C:\\clock\\rx.old.dat");
  // The root directory is empty.
  EXPECT_EQ(Derive("/dcfsync.bin", '/', 1),
            " |  | dcfsync | /dcfsync.ini | /dcfsync.log | /dcfsync.dat");
}

TEST(FilePaths, BareFileNameIsTheBaseNameOnPosix) {
  EXPECT_EQ(Derive("/opt/clock/dcfsync", '/', 1),
            " | /opt/clock | dcfsync | /opt/clock/dcfsync.ini | /opt/clock/dcfsync.log"
            " | /opt/clock/dcfsync.dat");
  // A dot in a directory name is not an extension.
  EXPECT_EQ(Derive("/opt/v1.2/dcfsync", '/', 1),
            " | /opt/v1.2 | dcfsync | /opt/v1.2/dcfsync.ini | /opt/v1.2/dcfsync.log"
            " | /opt/v1.2/dcfsync.dat");
}

TEST(FilePaths, BareFileNameLeavesTheBaseNameEmptyOnWindows) {
  EXPECT_EQ(Derive("C:\\clock\\rx", '\\', 0),
            "Error argv[]!\n | C:\\clock |  | C:\\clock\\.ini | C:\\clock\\.log | C:\\clock\\.dat");
  // A dot only in a directory name counts as no dot.
  EXPECT_EQ(Derive("C:\\v1.2\\rx", '\\', 0),
            "Error argv[]!\n | C:\\v1.2 |  | C:\\v1.2\\.ini | C:\\v1.2\\.log | C:\\v1.2\\.dat");
}

const char Refused[] = "Error argv[]!\n |  |  | \\.ini | \\.log | \\.dat";
const char RefusedPosix[] = "Error argv[]!\n |  |  | /.ini | /.log | /.dat";

TEST(FilePaths, PathWithoutSeparatorIsRefused) {
  EXPECT_EQ(Derive("rx.exe", '\\', 0), Refused);
  EXPECT_EQ(Derive("C:/clock/rx.exe", '\\', 0), Refused);  // the other separator
  EXPECT_EQ(Derive("dcfsync", '/', 1), RefusedPosix);
}

TEST(FilePaths, OverlongPathsAreRefusedNotCut) {
  // C:\ddd...\rx.exe of 254 characters fits, and so do its derived names.
  const std::string dir254 = "C:\\" + std::string(244, 'd');
  EXPECT_EQ(Derive(dir254 + "\\rx.exe", '\\', 0),
            " | " + dir254 + " | rx | " + dir254 + "\\rx.ini | " + dir254 + "\\rx.log | " +
                dir254 + "\\rx.dat");
  EXPECT_EQ(Derive(dir254 + "d\\rx.exe", '\\', 0), Refused);
  EXPECT_EQ(Derive("C:\\" + std::string(1000, 'd') + "\\rx.exe", '\\', 0), Refused);
}

TEST(FilePaths, PathWhoseDerivedNamesWouldNotFitIsRefused) {
  // /ddd.../dcfsync of 250 characters gives names of 254; one more is too long.
  const std::string dir = "/" + std::string(241, 'd');
  EXPECT_EQ(Derive(dir + "/dcfsync", '/', 1),
            " | " + dir + " | dcfsync | " + dir + "/dcfsync.ini | " + dir + "/dcfsync.log | " +
                dir + "/dcfsync.dat");
  EXPECT_EQ(Derive(dir + "d/dcfsync", '/', 1), RefusedPosix);
}

TEST(FilePaths, RefusedPathWithoutExtensionReportsOnce) {
  // A 253-character Windows path without extension: C:\ddd...\.ini would be
  // 256 characters. Refused with a single error line.
  EXPECT_EQ(Derive("C:\\" + std::string(248, 'd') + "\\x", '\\', 0), Refused);
}

TEST(FilePaths, SettingsAreFoundBesideTheExecutable) {
  ResetProgramState();
  const std::string dir = ScratchDirectory();
  testing::internal::CaptureStdout();
  DeriveFilePaths((dir + "rx.exe").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(std::string(Paths.log), dir + "rx.log");
  EXPECT_EQ(std::string(Paths.data), dir + "rx.dat");
  WriteFile(dir + "rx.ini", "[init]\nport=COM2\n");
  LoadSettings(LogText);
  EXPECT_STREQ(Settings.port, "COM2");

  // A bare file name names the files on POSIX only.
  const bool posix = std::filesystem::path::preferred_separator == '/';
  testing::internal::CaptureStdout();
  DeriveFilePaths((dir + "dcfsync").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), posix ? "" : "Error argv[]!\n");
  EXPECT_EQ(std::string(Paths.settings), dir + (posix ? "dcfsync.ini" : ".ini"));
}

TEST(ExecutablePath, ComesFromTheSystemNotFromTheFirstArgument) {
  static char path[ExecutablePathSize];
  // A bare name, as a shell passes it for a program found through PATH.
  ASSERT_EQ(1, FindExecutablePath("paths_test", path, sizeof path));
  std::filesystem::path found(path);
  EXPECT_TRUE(found.is_absolute()) << path;
  EXPECT_EQ("paths_test", found.stem().string());
  EXPECT_TRUE(std::filesystem::exists(found)) << path;
}

TEST(ExecutablePath, FallsBackToTheFirstArgumentWhenTheRecordDoesNotFit) {
  char path[8];
  memset(path, 'x', sizeof path);
  EXPECT_EQ(0, FindExecutablePath("a/b/rx", path, sizeof path));
  EXPECT_STREQ("a/b/rx", path);
  // Cut, it would name other files: nothing is used instead.
  EXPECT_EQ(0, FindExecutablePath("a/b/dcfsync", path, sizeof path));
  EXPECT_STREQ("", path);
  EXPECT_EQ(0, FindExecutablePath(NULL, path, sizeof path));
  EXPECT_STREQ("", path);
}

}  // namespace
