// The decoded-time frame decoder: the module's own verdicts and binary values.
#include <string.h>

#include "decode/decode.h"

void DecodeDecodedTime(const unsigned char* frame, int32_t century, DecodeResult* result) {
  memset(result, 0, sizeof *result);
  TimeTelegram& telegram = result->telegram;
  telegram.valid = 1;
  telegram.S = 1;
  unsigned flags = frame[0];
  telegram.A1 = (int32_t)(flags & 1u);
  telegram.Z1 = (int32_t)((flags >> 1) & 1u);
  telegram.Z2 = (int32_t)((flags >> 2) & 1u);
  telegram.A2 = (int32_t)((flags >> 3) & 1u);
  telegram.minute = (int8_t)frame[1];
  telegram.hour = (int8_t)frame[2];
  telegram.day = (int8_t)frame[3];
  telegram.month = frame[4] & 0x0F;
  telegram.weekday = (frame[4] >> 4) & 0x07;
  telegram.R = (frame[4] >> 7) & 1;
  telegram.year = (int32_t)((uint32_t)(int8_t)frame[5] + (uint32_t)century);
  telegram.second = (int8_t)frame[6];
  telegram.millisecond = (int8_t)frame[8] * 10;
  if ((flags & 0x80u) == 0) {
    AddFailedCheck(result, CheckBadData);
    return;
  }
  result->complete = 1;
  if (flags & 0x10u) AddFailedCheck(result, CheckMinuteParity);
  if (flags & 0x20u) AddFailedCheck(result, CheckHourParity);
  if (flags & 0x40u) AddFailedCheck(result, CheckDateParity);
  if (frame[7] != 0) AddFailedCheck(result, CheckMarks);
}
