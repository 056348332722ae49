// The Windows port's calls, records and values, checked with a recording
// stand-in for each Win32 call in the port's call table.
// The call table first: it includes windows.h and takes back the name
// ConfigurePort from the spooler's macro before port.h declares it.
#include "os/oscalls_win32.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/paths.h"
#include "config/settings.h"
#include "link/port.h"
#include "log/log.h"
#include "support/fake_clockset.h"
#include "support/testutil.h"

namespace {

HANDLE const FakeHandle = (HANDLE)(intptr_t)0x4242;

struct Recording {
  std::vector<std::string> calls;
  std::string openedName;
  DWORD access, share, disposition, flags;
  LPSECURITY_ATTRIBUTES security;
  HANDLE templateFile;
  DCB reported, applied;
  COMMTIMEOUTS reportedTimeouts, appliedTimeouts;
  std::vector<DWORD> escapes;
  DWORD readRequest;
  DWORD writeSize;
  unsigned char written[8];
  HANDLE lastHandle;
  // Behaviour of the stand-ins.
  BOOL getStateOk, setStateOk, getTimeoutsOk, setTimeoutsOk, readOk, writeOk, closeOk;
  DWORD readCount, writeCount, lastError;
};
Recording rec;

HANDLE WINAPI FakeCreateFileA(LPCSTR name, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
  rec.calls.push_back("CreateFileA");
  rec.openedName = name;
  rec.access = access;
  rec.share = share;
  rec.security = security;
  rec.disposition = disposition;
  rec.flags = flags;
  rec.templateFile = templateFile;
  return FakeHandle;
}
BOOL WINAPI FakeGetCommState(HANDLE h, LPDCB dcb) {
  rec.calls.push_back("GetCommState");
  rec.lastHandle = h;
  EXPECT_EQ(dcb->DCBlength, 28u);
  if (rec.getStateOk) *dcb = rec.reported;
  return rec.getStateOk;
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb) {
  rec.calls.push_back("SetCommState");
  rec.applied = *dcb;
  return rec.setStateOk;
}
BOOL WINAPI FakeGetCommTimeouts(HANDLE, LPCOMMTIMEOUTS t) {
  rec.calls.push_back("GetCommTimeouts");
  *t = rec.reportedTimeouts;
  return rec.getTimeoutsOk;
}
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS t) {
  rec.calls.push_back("SetCommTimeouts");
  rec.appliedTimeouts = *t;
  return rec.setTimeoutsOk;
}
BOOL WINAPI FakeEscapeCommFunction(HANDLE h, DWORD function) {
  rec.lastHandle = h;
  rec.escapes.push_back(function);
  return FALSE;  // as on a line without modem lines: must be ignored
}
BOOL WINAPI FakeReadFile(HANDLE, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
  rec.calls.push_back("ReadFile");
  EXPECT_EQ(overlapped, nullptr);
  rec.readRequest = size;
  DWORD n = rec.readCount < size ? rec.readCount : size;
  memset(buffer, 0x77, n);
  *got = rec.readOk ? n : 0;
  return rec.readOk;
}
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID bytes, DWORD size, LPDWORD written,
                          LPOVERLAPPED overlapped) {
  rec.calls.push_back("WriteFile");
  EXPECT_EQ(overlapped, nullptr);
  rec.writeSize = size;
  memcpy(rec.written, bytes, size < 8 ? size : 8);
  *written = rec.writeCount;
  return rec.writeOk;
}
BOOL WINAPI FakeCloseHandle(HANDLE h) {
  rec.calls.push_back("CloseHandle");
  rec.lastHandle = h;
  return rec.closeOk;
}
DWORD WINAPI FakeGetLastError(void) { return rec.lastError; }

// The port's calls in the system-call table replaced by the recording ones.
void InstallFakes() {
  Os.CreateFileA = FakeCreateFileA;
  Os.GetCommState = FakeGetCommState;
  Os.SetCommState = FakeSetCommState;
  Os.GetCommTimeouts = FakeGetCommTimeouts;
  Os.SetCommTimeouts = FakeSetCommTimeouts;
  Os.EscapeCommFunction = FakeEscapeCommFunction;
  Os.ReadFile = FakeReadFile;
  Os.WriteFile = FakeWriteFile;
  Os.CloseHandle = FakeCloseHandle;
  Os.GetLastError = FakeGetLastError;
}

class PortWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    rec = Recording();
    rec.getStateOk = rec.setStateOk = rec.getTimeoutsOk = rec.setTimeoutsOk = TRUE;
    rec.readOk = rec.writeOk = rec.closeOk = TRUE;
    rec.writeCount = 2;
    rec.lastError = ERROR_ACCESS_DENIED;
    // A port as another program may have left it: flow control, line modes
    // and special characters that must all survive the configuration.
    memset(&rec.reported, 0, sizeof rec.reported);
    rec.reported.DCBlength = sizeof(DCB);
    rec.reported.BaudRate = 1200;
    rec.reported.fBinary = 1;
    rec.reported.fOutxCtsFlow = 1;
    rec.reported.fDtrControl = DTR_CONTROL_HANDSHAKE;
    rec.reported.fOutX = 1;
    rec.reported.fRtsControl = RTS_CONTROL_TOGGLE;
    rec.reported.XonLim = 77;
    rec.reported.XoffLim = 88;
    rec.reported.ByteSize = 7;
    rec.reported.Parity = EVENPARITY;
    rec.reported.StopBits = TWOSTOPBITS;
    rec.reported.XonChar = 0x11;
    rec.reported.XoffChar = 0x13;
    rec.reported.EvtChar = 'e';
    rec.reportedTimeouts = {5, 6, 7, 8, 9};
    InstallFakes();
    snprintf(Settings.port, PortNameSize, "\\\\.\\com12");
  }
  void TearDown() override {
    Port.handle = InvalidPortHandle;
    ResetTestOsCalls();
  }
};

TEST_F(PortWin32Test, OpenUsesTheNameUnchangedWithoutSharing) {
  EXPECT_EQ(OpenPort(), 0);
  EXPECT_EQ(Port.handle, (PortHandleValue)FakeHandle);
  EXPECT_EQ(rec.openedName, "\\\\.\\com12");
  EXPECT_EQ(rec.access, (DWORD)(GENERIC_READ | GENERIC_WRITE));
  EXPECT_EQ(rec.share, 0u);
  EXPECT_EQ(rec.security, nullptr);
  EXPECT_EQ(rec.disposition, (DWORD)OPEN_EXISTING);
  EXPECT_EQ(rec.flags, 0u);
  EXPECT_EQ(rec.templateFile, nullptr);
  EXPECT_TRUE(LoggedMessages().empty());
}

TEST_F(PortWin32Test, ConfigurationChangesOnlyTheLineAndReadTimeouts) {
  ASSERT_EQ(sizeof(DCB), 28u);
  OpenPort();
  ASSERT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), 0);
  DCB expected = rec.reported;
  expected.BaudRate = 19200;
  expected.ByteSize = 8;
  expected.Parity = NOPARITY;
  expected.StopBits = ONESTOPBIT;
  EXPECT_EQ(0, memcmp(&expected, &rec.applied, sizeof(DCB)));
  EXPECT_EQ(rec.appliedTimeouts.ReadIntervalTimeout, 100u);
  EXPECT_EQ(rec.appliedTimeouts.ReadTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(rec.appliedTimeouts.ReadTotalTimeoutConstant, 7u);
  EXPECT_EQ(rec.appliedTimeouts.WriteTotalTimeoutMultiplier, 8u);
  EXPECT_EQ(rec.appliedTimeouts.WriteTotalTimeoutConstant, 9u);
  EXPECT_EQ(rec.lastHandle, FakeHandle);
  EXPECT_TRUE(LoggedMessages().empty());

  // A state that cannot be read leaves zeros beside the four line fields.
  rec.getStateOk = FALSE;
  ASSERT_EQ(ConfigurePort(4800, 8, NoParity, OneStopBit), 0);
  DCB zeros;
  memset(&zeros, 0, sizeof zeros);
  zeros.DCBlength = 28;
  zeros.BaudRate = 4800;
  zeros.ByteSize = 8;
  EXPECT_EQ(0, memcmp(&zeros, &rec.applied, sizeof(DCB)));
}

TEST_F(PortWin32Test, EachFailingStepLogsOneLineAndStops) {
  OpenPort();
  const char* const stages[] = {"SetCommState", "GetCommTimeouts", "SetCommTimeouts"};
  for (int failing = 0; failing < 3; ++failing) {
    ResetProgramState();
    InstallFakes();
    rec.calls.clear();
    rec.setStateOk = failing != 0;
    rec.getTimeoutsOk = failing != 1;
    rec.setTimeoutsOk = failing != 2;
    EXPECT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), ERROR_ACCESS_DENIED)
        << stages[failing];
    ASSERT_FALSE(rec.calls.empty());
    EXPECT_EQ(rec.calls.back(), stages[failing]);
    // The system's text keeps its own line end, so the log is compared
    // whole: one time-stamped line, the same text a direct call logs.
    std::string logged = ReadFile(Paths.log);
    LogSystemError(ERROR_ACCESS_DENIED);
    std::string both = ReadFile(Paths.log);
    ASSERT_GT(logged.size(), 20u);
    ASSERT_EQ(both.size(), 2 * logged.size()) << stages[failing];
    EXPECT_TRUE(HasTimestampPrefix(logged));
    EXPECT_EQ(StripTimestamp(logged), both.substr(logged.size() + TimestampLength));
    EXPECT_NE(logged.find("denied"), std::string::npos) << logged;
  }
}

TEST_F(PortWin32Test, ModemLinesReadsAndWrites) {
  OpenPort();
  SetRts(1);
  SetRts(0);
  SetDtr(1);
  SetDtr(0);
  EXPECT_EQ(rec.escapes, (std::vector<DWORD>{3, 4, 5, 6}));

  unsigned char area[1100];
  memset(area, 0xEE, sizeof area);
  rec.readCount = 5000;
  EXPECT_EQ(ReadPort(area, 0, 1000), 999);
  EXPECT_EQ(rec.readRequest, 999u);
  EXPECT_EQ(area[999], 0);
  EXPECT_EQ(ReadPort(area, 990, 1000), 9);
  EXPECT_EQ(rec.readRequest, 9u);
  EXPECT_EQ(area[999], 0);
  EXPECT_EQ(area[1000], 0xEE);
  rec.readOk = FALSE;
  memset(area, 0xEE, sizeof area);
  EXPECT_EQ(ReadPort(area, 3, 1000), 0);
  EXPECT_EQ(area[3], 0xEE);

  EXPECT_EQ(WriteCommand((const unsigned char*)"\x04"), 0);
  EXPECT_EQ(rec.writeSize, 2u);
  EXPECT_EQ(rec.written[0], 0x04);
  EXPECT_EQ(rec.written[1], 0x00);
  rec.writeCount = 1;
  EXPECT_EQ(WriteCommand((const unsigned char*)"\x04"), ERROR_WRITE_FAULT);
  rec.writeCount = 2;
  rec.writeOk = FALSE;
  EXPECT_EQ(WriteCommand((const unsigned char*)"\x04"), ERROR_ACCESS_DENIED);
}

TEST_F(PortWin32Test, CloseOnceAndNeverTouchTheOldHandle) {
  EXPECT_EQ(ClosePort(), ERROR_INVALID_HANDLE);  // never opened
  OpenPort();
  rec.calls.clear();
  EXPECT_EQ(ClosePort(), 0);
  EXPECT_EQ(ClosePort(), ERROR_INVALID_HANDLE);
  SetRts(0);
  SetDtr(0);
  unsigned char area[8];
  EXPECT_EQ(ReadPort(area, 0, sizeof area), 0);
  EXPECT_EQ(WriteCommand((const unsigned char*)"\x03"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"CloseHandle"}));
  EXPECT_TRUE(rec.escapes.empty());

  OpenPort();
  rec.closeOk = FALSE;
  EXPECT_EQ(ClosePort(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Port.handle, InvalidPortHandle);
}

}  // namespace
