// The program's main flow and its Ctrl-C handler.
#include "driver/driver.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "clock/evaluate.h"
#include "config/paths.h"
#include "driver/clockloop.h"
#include "decode/decode.h"
#include "driver/interrupt.h"
#include "config/settings.h"
#include "config/status.h"
#include "link/exchange.h"
#include "link/port.h"
#include "log/log.h"
#include "refclock/refclock.h"

// Carries each command out (its first 2 bytes) and the answer back (from its
// first byte, followed by a zero byte), where the dump and the decoders read
// it.
static unsigned char AnswerBuffer[AnswerBufferSize];

// The run's counting state: consecutive valid telegrams and the last one
// counted.
static CountingState Counting;

// Taken by the Ctrl-C handler when it starts, or by the main flow once its
// final wait is over, whichever comes first: that side ends the process and
// the other never races it through exit.
static std::atomic<int> EndClaimed(0);

// The main flow stops here for good once Ctrl-C has been taken: the handler
// closes the port under it, and polling on would only fill the log with
// "Receive error!" lines (thousands a second with timer 0) until the handler
// ends the process.
static void HaltIfInterrupted(void) {
  if (EndClaimed.load() == 0) return;
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(60));
}

void SleepSeconds(int seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

void InterruptHandler(int) {
  // The main flow has finished its final wait and is ending the process.
  if (EndClaimed.exchange(1) != 0) return;
  // The flow goes on beside the handler until its next halt: it may be
  // logging a telegram, or about to log the port it finds closed as not
  // closable. None of that may come after the Ctrl-C line.
  HaltOutput("\nCtrl-C\n");
  // The learned frequency stays in force, the slew stops, the drift file is
  // written.
  StopClockLoop();
  // Does nothing when the port is not open, never was, or is closed already.
  SetRts(0);
  SetDtr(0);
  ClosePort();
  SleepSeconds(1);
  exit(StatusInterrupted);
}

// Lines off and port closed; the status is left as it is.
static void Shutdown(void) {
  SetRts(0);
  SetDtr(0);
  if (ClosePort() != 0) {
    LogMessage("Can't close %s", PortName);
  } else {
    LogMessage("%s closed", PortName);
  }
}

// Reports a non-zero status, waits, and returns the status for the exit.
static int Final(void) {
  StopClockLoop();
  if (RunStatus != 0) LogMessage("Return errno %d", RunStatus);
  SleepSeconds(FinalWaitSeconds);
  int status = RunStatus;
  // Ctrl-C has come: its handler ends the process with its own status.
  if (EndClaimed.exchange(1) != 0) HaltIfInterrupted();
  return status;
}

// One poll: the telegram command, its answer dumped and decoded. A short
// answer is logged and leaves the status alone.
static void Poll(void) {
  int decoded = Settings.TimerGetDecodedTime != 0;
  const unsigned char* command = decoded ? DecodedTimeCommand : RawTelegramCommand;
  int expected = decoded ? (int)DecodedTimeFrameSize : (int)RawTelegramFrameSize;
  memcpy(AnswerBuffer, command, CommandSize);
  int received = ExchangeCommand(AnswerBuffer, AnswerTimeLimit, expected);
  HaltIfInterrupted();
  if (received < expected) {
    LogMessage("Receive error!");
    return;
  }
  DumpFrame(AnswerBuffer, received, DumpHex);
  if (decoded) {
    DecodeDecodedTimeFrame(AnswerBuffer, &Counting);
  } else {
    DecodeRawTelegramFrame(AnswerBuffer, &Counting);
  }
}

// The wait between polls, shown as a countdown that overwrites itself:
// timer x 60 - 1 seconds, nothing at all for timer 0 or below.
static void Countdown(void) {
  // timer x 60 in 64 bits: a timer of more than 68 years is held at 68 years
  // instead of overflowing into a negative or short wait.
  long long total = (long long)Settings.timer * 60;
  if (total > INT_MAX) total = INT_MAX;
  for (long long counter = 1; counter < total; ++counter) {
    SleepSeconds(1);
    HaltIfInterrupted();
    TendClockLoop();
    // Through the log's output lock, which the Ctrl-C handler takes: a
    // countdown line cannot come after its line.
    char line[32];
    snprintf(line, sizeof line, "%4d secs left \r", (int)(total - counter));
    ConsoleText(line);
  }
}

int RunProgram(int argc, char** argv) {
  InstallInterruptHandler(InterruptHandler);
  ConsoleText("Ctrl-C to exit\n");

  static char executable[ExecutablePathSize];
  FindExecutablePath(argc > 0 ? argv[0] : NULL, executable, sizeof executable);
  DeriveFilePaths(executable);
  SettingsReport = LogText;
  LoadSettings();
  StartReferenceFeed();
  ResetCountingState(&Counting);
  StartClockLoop();

  HaltIfInterrupted();  // the port is not to be opened after Ctrl-C
  if (OpenPort() == InvalidPortHandle) {
    RunStatus = StatusOpenFailed;
    LogMessage("%s not opened", PortName);
    return Final();
  }
  if (EndClaimed.load() != 0) {
    // Ctrl-C came while the port was being opened: the handler may have
    // found it not open yet, so it is closed here, before the module could
    // be powered.
    ClosePort();
    HaltIfInterrupted();
  }
  RunStatus = 0;
  LogMessage("%s opened", PortName);

  if (!ConfigurePort(Settings.baud, 8, NoParity, OneStopBit)) {
    RunStatus = StatusConfigureFailed;
    LogMessage("Can't set %s", PortName);
    Shutdown();
    return Final();
  }

  // The module draws its power from RTS and DTR.
  SetRts(1);
  SetDtr(1);
  SleepSeconds(1);

  memcpy(AnswerBuffer, IdentCommand, CommandSize);
  int received = ExchangeCommand(AnswerBuffer, AnswerTimeLimit, IdentFrameSize);
  HaltIfInterrupted();
  if (received < IdentFrameSize) {
    RunStatus = StatusNoIdentification;
    LogMessage("Receive error!");
    Shutdown();
    return Final();
  }
  DumpFrame(AnswerBuffer, received, DumpText);

  for (;;) {
    HaltIfInterrupted();
    TendClockLoop();
    Poll();
    if (Settings.TimerEnable == 0) break;
    Countdown();
  }
  Shutdown();
  return Final();
}
