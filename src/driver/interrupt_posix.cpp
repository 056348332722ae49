// Ctrl-C on POSIX. A signal handler may not write to the console, sleep or
// call exit, which the program's handler does; so SIGINT stays blocked in the
// program's threads and one thread of its own takes it with sigwait and runs
// the handler there as an ordinary function.
#include <pthread.h>
#include <signal.h>
#include <stddef.h>

#include "driver/interrupt.h"

static void (*InterruptRoutine)(int);

static void* WaitForInterrupt(void*) {
  sigset_t wanted;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGINT);
  for (;;) {
    int signal = 0;
    if (sigwait(&wanted, &signal) == 0 && signal == SIGINT) {
      InterruptRoutine(SIGINT);  // returns only when the program is ending anyway
    }
  }
  return NULL;
}

int InstallInterruptHandler(void (*handler)(int)) {
  InterruptRoutine = handler;
  sigset_t interrupt, previous;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  // Blocked here before the thread starts: it inherits the mask, and a
  // Ctrl-C that comes at once stays pending until sigwait takes it.
  pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int failed = pthread_create(&thread, &attributes, WaitForInterrupt, NULL);
  pthread_attr_destroy(&attributes);
  if (failed != 0) pthread_sigmask(SIG_SETMASK, &previous, NULL);
  return failed;
}
