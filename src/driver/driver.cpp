// The program's main flow and its end by Ctrl-C.
#include "driver/driver.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "config/paths.h"
#include "config/settings.h"
#include "config/status.h"
#include "decode/decode.h"
#include "driver/poll.h"
#include "link/exchange.h"
#include "link/port.h"
#include "log/log.h"
#include "os/wake.h"
#include "refclock/refclock.h"

// Waits whole seconds; 1 when Ctrl-C cut it short.
static int WaitSeconds(int seconds) { return seconds > 0 ? WaitForWake(seconds * 1000) : 0; }

// The end by Ctrl-C once the flow has seen it: the Ctrl-C line last on the
// console, the slew ended and the drift written, the module off, the port
// closed (if open), and the end a second after the request.
static int EndByInterrupt(RunState* run) {
  HaltOutput("\nCtrl-C\n");
  StopClockLoop(&run->loop);
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

// Reports a non-zero status, waits, and returns the exit status.
static int Final(RunState* run) {
  if (WakeRequested()) return EndByInterrupt(run);
  StopClockLoop(&run->loop);
  if (RunStatus != 0) LogMessage("Return errno %d", RunStatus);
  if (WaitSeconds(FinalWaitSeconds)) return EndByInterrupt(run);
  return RunStatus;
}

// One poll: the telegram command, its answer dumped and carried out. A
// short answer is logged; an exchange cut short by Ctrl-C is not.
static void Poll(unsigned char* answer, RunState* run) {
  int decoded = Settings.TimerGetDecodedTime != 0;
  const unsigned char* command = decoded ? DecodedTimeCommand : RawTelegramCommand;
  int expected = decoded ? (int)DecodedTimeFrameSize : (int)RawTelegramFrameSize;
  memcpy(answer, command, CommandSize);
  int received = ExchangeCommand(answer, AnswerTimeLimit, expected);
  if (WakeRequested()) return;
  if (received < expected) {
    LogMessage("Receive error!");
    return;
  }
  DumpFrame(answer, received, DumpHex);
  CarryOutAnswer(run, answer, decoded ? FrameDecodedTime : FrameRaw);
}

// The wait between polls as a countdown that overwrites itself: PollSeconds
// - 1 seconds. Ends early on Ctrl-C.
static void Countdown(RunState* run) {
  int32_t total = PollSeconds(&Settings);
  for (int32_t counter = 1; counter < total; ++counter) {
    if (WaitSeconds(1)) return;
    TendClockLoop(&run->loop);
    TendHealth(run);
    char line[32];
    snprintf(line, sizeof line, "%4d secs left \r", (int)(total - counter));
    ConsoleText(line);
  }
}

int RunProgram(int argc, char** argv) {
  InstallInterruptHandler();
  ConsoleText("Ctrl-C to exit\n");

  // Each command (its first 2 bytes) and the answer back, followed by a zero byte.
  unsigned char answer[AnswerBufferSize];
  RunState run;
  char executable[ExecutablePathSize];
  FindExecutablePath(argc > 0 ? argv[0] : NULL, executable, sizeof executable);
  DeriveFilePaths(executable);
  LoadSettings(LogText);
  StartReferenceFeed();
  ResetRunState(&run);
  StartClockLoop(&run.loop);
  StartHealth(&run.health);

  if (WakeRequested()) return EndByInterrupt(&run);  // no port is opened after Ctrl-C
  if (OpenPort() != 0) {
    RunStatus = StatusOpenFailed;
    LogMessage("%s not opened", Settings.port);
    return Final(&run);
  }
  // Ctrl-C while the port was opening: closed before the module is powered.
  if (WakeRequested()) return EndByInterrupt(&run);
  RunStatus = 0;
  LogMessage("%s opened", Settings.port);

  if (ConfigurePort(Settings.baud, 8, NoParity, OneStopBit) != 0) {
    RunStatus = StatusConfigureFailed;
    LogMessage("Can't set %s", Settings.port);
    Shutdown();
    return Final(&run);
  }

  // The module draws its power from RTS and DTR.
  SetRts(1);
  SetDtr(1);
  if (WaitSeconds(1)) return EndByInterrupt(&run);

  memcpy(answer, IdentCommand, CommandSize);
  // A pulse receiver takes no command: it is not asked who it is.
  int pulse = Settings.Receiver == 1;
  int received = pulse ? IdentFrameSize : ExchangeCommand(answer, AnswerTimeLimit, IdentFrameSize);
  if (WakeRequested()) return EndByInterrupt(&run);
  if (received < IdentFrameSize) {
    RunStatus = StatusNoIdentification;
    LogMessage("Receive error!");
    Shutdown();
    return Final(&run);
  }
  if (!pulse) DumpFrame(answer, received, DumpText);
  ReportReady(&run);

  for (;;) {
    TendClockLoop(&run.loop);
    if (pulse) {
      PulsePoll(&run);
    } else {
      Poll(answer, &run);
    }
    if (WakeRequested()) return EndByInterrupt(&run);
    TendHealth(&run);
    if (Settings.TimerEnable == 0) break;
    Countdown(&run);
    if (WakeRequested()) return EndByInterrupt(&run);
  }
  Shutdown();
  return Final(&run);
}
