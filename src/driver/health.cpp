// The run's health. See health.h.
#include "driver/health.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "clock/pcclock.h"
#include "config/settings.h"
#include "driver/poll.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/notify.h"
#include "refclock/refclock.h"

enum { StatusEveryMs = 5000, StatusSize = 256 };

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

void NoteTelegramOutcome(HealthRecord* health, double offsetMs, int32_t clockSet) {
  if (clockSet) {
    int32_t day = LocalNow(NULL, 0);
    health->sets = day == health->setsDay ? health->sets + 1 : 1;
    health->setsDay = day;
    return;
  }
  health->offsetMs = -offsetMs;
  health->trusted = 1;
}

void StartHealth(HealthRecord* health) {
  memset(health, 0, sizeof *health);
  health->watchdogMs = NotifyWatchdogMs();
  health->statusDue = 1;
  LocalNow(health->since, sizeof health->since);
}

void ReportReady(RunState* run) {
  NotifyReady();
  TendHealth(run);
}

void TendHealth(RunState* run) {
  HealthRecord* health = &run->health;
  int64_t now = MonotonicMs();
  char line[128];
  if (UpdateReception(&run->reception, health->trusted, now, PollSeconds(&Settings), line,
                      sizeof line)) {
    if (line[0] != '\0') LogText(line);
    LocalNow(health->since, sizeof health->since);
    health->statusDue = 1;
  }
  health->trusted = 0;
  if (health->statusDue || now - health->lastStatusMs >= StatusEveryMs) {
    char feed[96], status[StatusSize];
    DescribeReferenceFeed(feed, sizeof feed);
    int32_t sets = LocalNow(NULL, 0) == health->setsDay ? health->sets : 0;
    FormatReceptionStatus(&run->reception, now, health->since, health->offsetMs, sets, feed,
                          status, sizeof status);
    NotifyStatus(status);
    health->statusDue = 0;
    health->lastStatusMs = now;
  }
  if (health->watchdogMs > 0 && now - health->lastWatchdogMs >= health->watchdogMs / 4) {
    NotifyWatchdog();
    health->lastWatchdogMs = now;
  }
}
