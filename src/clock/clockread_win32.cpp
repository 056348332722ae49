// Reading the PC clock on Windows: the C runtime's _ftime64 fills every field,
// time zone and daylight-saving flag included.
#include <sys/timeb.h>

#include "clock/pcclock.h"

void ReadPcClock(PcTime* reading) {
  struct __timeb64 now;
  _ftime64(&now);
  reading->time = (int64_t)now.time;
  reading->millitm = now.millitm;
  reading->timezone = now.timezone;
  reading->dstflag = now.dstflag;
}
