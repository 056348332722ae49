// Shared set-up of the fuzz targets: the program's code runs as in a real
// run, but its console goes to /dev/null and its files to scratch paths, so
// millions of runs leave nothing behind.
#ifndef DCFSYNC_FUZZ_FUZZSUPPORT_H
#define DCFSYNC_FUZZ_FUZZSUPPORT_H

#include <stdio.h>
#include <stdlib.h>

// Stops the fuzzing run with a message when an expectation fails: libFuzzer
// keeps the input that did it as a crash file.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                      \
    }                                                                               \
  } while (0)

// Console to /dev/null, log and data file to /dev/null, German legal time.
void FuzzQuietProgram(void);

#endif
