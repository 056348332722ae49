// Preloaded into the program by the clock discipline's end-to-end test: a
// PC clock modelled in the process. Its wall clock (CLOCK_REALTIME and the
// coarse one through clock_gettime, gettimeofday, time) reads the machine's
// real time plus an offset that starts at DCFSYNC_CLOCK_SHIFT_MS and runs
// at DCFSYNC_MODEL_PPM (the clock's own frequency error) plus the frequency
// the program puts in force with clock_adjtime ADJ_FREQUENCY; a single-shot
// slew (ADJ_OFFSET_SINGLESHOT) moves it at 500 ppm until done, replacing
// the slew left; clock_settime sets the offset. The machine's clock is
// never touched. Each call that changes the model appends one line
//   "modes monotonicMs offsetMs frequencyPpm slewUs"
// to DCFSYNC_MODEL_RECORD: the call's modes (0 for clock_settime), the
// offset just before it, the frequency and the slew after it.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

static pthread_mutex_t ModelLock = PTHREAD_MUTEX_INITIALIZER;
static double BaseNs;         // offset at ReferenceNs, slew done until then included
static long long ReferenceNs;  // monotonic
static double NaturalPpm, FrequencyPpm;
static double SlewNs;          // still to come at ReferenceNs (positive: the clock forward)

static long long MonotonicNs(void) {
  struct timespec t;
  syscall(SYS_clock_gettime, CLOCK_MONOTONIC_RAW, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

__attribute__((constructor)) static void StartModel(void) {
  const char* shift = getenv("DCFSYNC_CLOCK_SHIFT_MS");
  const char* ppm = getenv("DCFSYNC_MODEL_PPM");
  BaseNs = shift != NULL ? strtod(shift, NULL) * 1e6 : 0.0;
  NaturalPpm = ppm != NULL ? strtod(ppm, NULL) : 0.0;
  ReferenceNs = MonotonicNs();
}

// Brings the model to now: the offset run on, the slew done so far.
static double Advance(long long now) {
  double elapsed = (double)(now - ReferenceNs);
  double offset = BaseNs + (NaturalPpm + FrequencyPpm) * 1e-6 * elapsed;
  double done = 500e-6 * elapsed;
  double size = SlewNs < 0 ? -SlewNs : SlewNs;
  if (done > size) done = size;
  double sign = SlewNs < 0 ? -1.0 : 1.0;
  offset += sign * done;
  SlewNs -= sign * done;
  BaseNs = offset;
  ReferenceNs = now;
  return offset;
}

static void Record(unsigned modes, long long now, double offsetNs) {
  const char* path = getenv("DCFSYNC_MODEL_RECORD");
  FILE* file = path != NULL ? fopen(path, "a") : NULL;
  if (file == NULL) return;
  fprintf(file, "%u %lld %.3f %.3f %.0f\n", modes, now / 1000000, offsetNs / 1e6, FrequencyPpm,
          SlewNs / 1000.0);
  fclose(file);
}

static void Shift(struct timespec* t, double offsetNs) {
  long long ns = (long long)t->tv_sec * 1000000000LL + t->tv_nsec + (long long)offsetNs;
  long long seconds = ns / 1000000000LL, rest = ns % 1000000000LL;
  if (rest < 0) {
    rest += 1000000000LL;
    seconds -= 1;
  }
  t->tv_sec = (time_t)seconds;
  t->tv_nsec = (long)rest;
}

extern "C" int clock_gettime(clockid_t clock, struct timespec* now) {
  long result = syscall(SYS_clock_gettime, clock, now);
  if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) {
    pthread_mutex_lock(&ModelLock);
    double offset = Advance(MonotonicNs());
    pthread_mutex_unlock(&ModelLock);
    Shift(now, offset);
  }
  return (int)result;
}

extern "C" int gettimeofday(struct timeval* now, void* zone) {
  (void)zone;
  struct timespec t;
  if (clock_gettime(CLOCK_REALTIME, &t) != 0) return -1;
  now->tv_sec = t.tv_sec;
  now->tv_usec = (suseconds_t)(t.tv_nsec / 1000);
  return 0;
}

extern "C" time_t time(time_t* now) {
  struct timespec t;
  if (clock_gettime(CLOCK_REALTIME, &t) != 0) return (time_t)-1;
  if (now != NULL) *now = t.tv_sec;
  return t.tv_sec;
}

extern "C" int clock_settime(clockid_t clock, const struct timespec* value) {
  (void)clock;
  struct timespec real;
  syscall(SYS_clock_gettime, CLOCK_REALTIME, &real);
  pthread_mutex_lock(&ModelLock);
  long long now = MonotonicNs();
  double before = Advance(now);
  BaseNs = (double)(value->tv_sec - real.tv_sec) * 1e9 + (double)(value->tv_nsec - real.tv_nsec);
  Record(0, now, before);
  pthread_mutex_unlock(&ModelLock);
  return 0;
}

extern "C" int clock_adjtime(clockid_t clock, struct timex* request) {
  (void)clock;
  pthread_mutex_lock(&ModelLock);
  long long now = MonotonicNs();
  double before = Advance(now);
  unsigned modes = request->modes;
  if (modes == ADJ_OFFSET_SINGLESHOT) {
    SlewNs = (double)request->offset * 1000.0;
  } else if ((modes & ADJ_FREQUENCY) != 0 && (modes & ADJ_OFFSET_SINGLESHOT) != ADJ_OFFSET_SINGLESHOT) {
    FrequencyPpm = (double)request->freq / 65536.0;
  }
  if (modes != 0 && modes != ADJ_OFFSET_SS_READ) Record(modes, now, before);
  pthread_mutex_unlock(&ModelLock);
  return TIME_OK;
}
