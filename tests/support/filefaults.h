// Failing stand-ins for the file calls of the system-call table, the same on
// both platforms: included by each platform's fake_clockset_*.cpp after its
// os/oscalls_*.h, which names Os and RealOsCalls.
#ifndef DCFSYNC_TESTS_FILEFAULTS_H
#define DCFSYNC_TESTS_FILEFAULTS_H

#include <errno.h>
#include <stdio.h>

#include "support/fake_clockset.h"

static int Fault, FaultCode;

static FILE* FaultOpen(const char* path, const char* mode) {
  if (Fault == FileOpenForWrite && mode[0] == 'w') return errno = FaultCode, nullptr;
  return RealOsCalls.OpenFile(path, mode);
}
static int FaultText(const char* text, FILE* file) {
  return Fault == FileText ? (errno = FaultCode, EOF) : RealOsCalls.PutText(text, file);
}
static int FaultSync(FILE* file) { return Fault == FileSync ? FaultCode : RealOsCalls.SyncFile(file); }
static int FaultReplace(const char* from, const char* to) {
  return Fault == FileReplace ? FaultCode : RealOsCalls.ReplaceFile(from, to);
}

void FailFileCall(int fault, int code) {
  Fault = fault;
  FaultCode = code;
  Os.OpenFile = FaultOpen;
  Os.PutText = FaultText;
  Os.SyncFile = FaultSync;
  Os.ReplaceFile = FaultReplace;
}

#endif
