// The program's main flow and its end by Ctrl-C.
#include "driver/driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "config/paths.h"
#include "driver/discipline_shell.h"
#include "driver/health.h"
#include "driver/interrupt.h"
#include "decode/decode.h"
#include "driver/poll.h"
#include "driver/pulse.h"
#include "config/settings.h"
#include "config/status.h"
#include "link/exchange.h"
#include "link/port.h"
#include "log/log.h"
#include "os/wake.h"
#include "refclock/refclock.h"

// Waits the given whole seconds, or less when Ctrl-C comes. Returns 1 when
// Ctrl-C cut it short.
static int WaitSeconds(int seconds) { return seconds > 0 ? WaitForWake(seconds * 1000) : 0; }

// The end of a run by Ctrl-C, once the flow has seen the request: the Ctrl-C
// line last on the console (no line of the flow comes after it), the module
// switched off and the port closed, and the end a second after the request.
static int EndByInterrupt(void) {
  HaltOutput("\nCtrl-C\n");
  // The learned frequency stays in force, the slew stops, the drift file is
  // written.
  StopClockLoop();
  // Does nothing when the port is not open, never was, or is closed already.
  SetRts(0);
  SetDtr(0);
  ClosePort();
  int64_t rest = InterruptEndMs - MsSinceWake();
  if (rest > 0) std::this_thread::sleep_for(std::chrono::milliseconds(rest));
  return StatusInterrupted;
}

// Lines off and port closed; the status is left as it is.
static void Shutdown(void) {
  SetRts(0);
  SetDtr(0);
  if (ClosePort() != 0) {
    LogMessage("Can't close %s", Settings.port);
  } else {
    LogMessage("%s closed", Settings.port);
  }
}

// Reports a non-zero status, waits, and returns the status for the exit
// (3 when Ctrl-C comes before the wait is over).
static int Final(void) {
  if (WakeRequested()) return EndByInterrupt();
  StopClockLoop();
  if (RunStatus != 0) LogMessage("Return errno %d", RunStatus);
  if (WaitSeconds(FinalWaitSeconds)) return EndByInterrupt();
  return RunStatus;
}

// One poll: the telegram command, its answer dumped and decoded. A short
// answer is logged and leaves the status alone; an exchange cut short by
// Ctrl-C is neither logged nor decoded.
static void Poll(unsigned char* answer, RunState* run) {
  int decoded = Settings.TimerGetDecodedTime != 0;
  const unsigned char* command = decoded ? DecodedTimeCommand : RawTelegramCommand;
  int expected = decoded ? (int)DecodedTimeFrameSize : (int)RawTelegramFrameSize;
  memcpy(answer, command, CommandSize);
  int received = ExchangeCommand(answer, AnswerTimeLimit, expected);
  if (WakeRequested()) return;
  if (received < expected) {
    CarryOutReceiveError(run);
    return;
  }
  DumpFrame(answer, received, DumpHex);
  CarryOutAnswer(run, answer, decoded ? FrameDecodedTime : FrameRaw);
}

// The wait between polls, shown as a countdown that overwrites itself:
// PollSeconds - 1 seconds, nothing at all for timer 0 or below. Ends early
// when Ctrl-C comes.
static void Countdown(RunState* run) {
  int32_t total = PollSeconds(&Settings);
  for (int32_t counter = 1; counter < total; ++counter) {
    if (WaitSeconds(1)) return;
    TendClockLoop();
    TendHealth(run);
    char line[32];
    snprintf(line, sizeof line, "%4d secs left \r", (int)(total - counter));
    ConsoleText(line);
  }
}

int RunProgram(int argc, char** argv) {
  InstallInterruptHandler();
  ConsoleText("Ctrl-C to exit\n");

  // Carries each command out (its first 2 bytes) and the answer back (from
  // its first byte, followed by a zero byte), where the dump and the
  // decoders read it.
  unsigned char answer[AnswerBufferSize];
  RunState run;
  char executable[ExecutablePathSize];
  FindExecutablePath(argc > 0 ? argv[0] : NULL, executable, sizeof executable);
  DeriveFilePaths(executable);
  LoadSettings(LogText);
  StartReferenceFeed();
  ResetRunState(&run);
  StartClockLoop();
  StartHealth();

  if (WakeRequested()) return EndByInterrupt();  // no port is opened after Ctrl-C
  if (OpenPort() != 0) {
    RunStatus = StatusOpenFailed;
    LogMessage("%s not opened", Settings.port);
    return Final();
  }
  // Ctrl-C while the port was being opened: it is closed again before the
  // module could be powered.
  if (WakeRequested()) return EndByInterrupt();
  RunStatus = 0;
  LogMessage("%s opened", Settings.port);

  if (ConfigurePort(Settings.baud, 8, NoParity, OneStopBit) != 0) {
    RunStatus = StatusConfigureFailed;
    LogMessage("Can't set %s", Settings.port);
    Shutdown();
    return Final();
  }

  // The module draws its power from RTS and DTR.
  SetRts(1);
  SetDtr(1);
  if (WaitSeconds(1)) return EndByInterrupt();

  memcpy(answer, IdentCommand, CommandSize);
  // A pulse receiver takes no command: it is not asked who it is.
  int pulse = Settings.Receiver == 1;
  int received = pulse ? IdentFrameSize : ExchangeCommand(answer, AnswerTimeLimit, IdentFrameSize);
  if (WakeRequested()) return EndByInterrupt();
  if (received < IdentFrameSize) {
    RunStatus = StatusNoIdentification;
    LogMessage("Receive error!");
    Shutdown();
    return Final();
  }
  if (!pulse) DumpFrame(answer, received, DumpText);
  ResetPulseListener();
  ReportReady(&run);

  for (;;) {
    TendClockLoop();
    if (pulse) {
      PulsePoll(&run);
    } else {
      Poll(answer, &run);
    }
    if (WakeRequested()) return EndByInterrupt();
    TendHealth(&run);
    if (Settings.TimerEnable == 0) break;
    Countdown(&run);
    if (WakeRequested()) return EndByInterrupt();
  }
  Shutdown();
  return Final();
}
