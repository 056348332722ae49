#include "driver/health.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "clock/pcclock.h"
#include "config/settings.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/notify.h"
#include "refclock/refclock.h"

enum { StatusEveryMs = 5000, StatusSize = 256 };

// What the status line shows of the reception, and the poll's trusted
// telegram until TendHealth takes it. Main flow only.
struct HealthRecord {
  int32_t trusted;        // the last poll brought a trusted telegram
  char since[8];          // the PC's HH:MM when the state began
  double offsetMs;        // the last trusted telegram's lead of the PC
  int32_t sets, setsDay;  // the clock's sets on the PC's day setsDay
  int64_t watchdogMs, lastWatchdogMs, lastStatusMs;
  int32_t statusDue;
};
static HealthRecord Health;

static int32_t PollSeconds(void) {
  if (Settings.TimerEnable == 0 || Settings.timer <= 0) return 0;
  return Settings.timer > 35791 ? 35791 * 60 : Settings.timer * 60;
}

// The PC's local day (year * 1000 + day of the year) and HH:MM now.
static int32_t LocalNow(char* clock, size_t size) {
  PcTime now;
  ReadPcClock(&now);
  time_t t = (time_t)now.time;
  const struct tm* local = localtime(&t);
  if (local == NULL) return 0;
  if (clock != NULL) snprintf(clock, size, "%.2d:%.2d", local->tm_hour, local->tm_min);
  return local->tm_year * 1000 + local->tm_yday;
}

static void Update(ReceptionState* reception, int trusted) {
  char line[128];
  if (UpdateReception(reception, trusted, MonotonicMs(), PollSeconds(), line, sizeof line)) {
    if (line[0] != '\0') LogText(line);
    LocalNow(Health.since, sizeof Health.since);
    Health.statusDue = 1;
  }
}

void NoteTelegramOutcome(double offsetMs, int32_t clockSet) {
  if (clockSet) {
    int32_t day = LocalNow(NULL, 0);
    Health.sets = day == Health.setsDay ? Health.sets + 1 : 1;
    Health.setsDay = day;
    return;
  }
  Health.offsetMs = -offsetMs;
  Health.trusted = 1;
}

void StartHealth(void) {
  memset(&Health, 0, sizeof Health);
  Health.watchdogMs = NotifyWatchdogMs();
  Health.statusDue = 1;
  LocalNow(Health.since, sizeof Health.since);
}

void ReportReady(RunState* run) {
  NotifyReady();
  TendHealth(run);
}

void TendHealth(RunState* run) {
  Update(&run->reception, Health.trusted);
  Health.trusted = 0;
  int64_t now = MonotonicMs();
  if (Health.statusDue || now - Health.lastStatusMs >= StatusEveryMs) {
    char feed[96], status[StatusSize];
    DescribeReferenceFeed(feed, sizeof feed);
    int32_t sets = LocalNow(NULL, 0) == Health.setsDay ? Health.sets : 0;
    FormatReceptionStatus(&run->reception, now, Health.since, Health.offsetMs, sets, feed,
                          status, sizeof status);
    NotifyStatus(status);
    Health.statusDue = 0;
    Health.lastStatusMs = now;
  }
  if (Health.watchdogMs > 0 && now - Health.lastWatchdogMs >= Health.watchdogMs / 4) {
    NotifyWatchdog();
    Health.lastWatchdogMs = now;
  }
}
