// The raw telegram frame decoder.
#include <stdio.h>
#include <string.h>

#include "decode/decode.h"

enum { FirstBitByte = 15, LastBitByte = 23 };

int8_t BcdToInt(uint8_t value) { return (int8_t)(uint8_t)((value & 0x0Fu) + 10u * (value >> 4)); }

int CheckParity(uint32_t data, uint8_t bits, int parityBit) {
  int ones = 0;
  for (int i = 0; i < bits && i < 32; ++i) ones += (data >> i) & 1u;
  return (ones % 2) == parityBit ? 1 : 0;
}

uint8_t ReverseBits(uint8_t value) {
  uint8_t reversed = 0;
  for (int i = 0; i < 8; ++i) {
    if (value & (1u << i)) reversed = (uint8_t)(reversed | (0x80u >> i));
  }
  return reversed;
}

void BitText(uint8_t value, char* text) {
  for (int i = 0; i < 8; ++i) text[i] = (value & (0x80u >> i)) ? '1' : '0';
  text[8] = '\0';
}

// Telegram bits first..first+width-1, the lowest-numbered bit least significant.
static uint32_t TelegramBits(const unsigned char* frame, int first, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    int n = first + i;
    uint32_t bit = (frame[FirstBitByte + n / 8] >> (n % 8)) & 1u;
    value |= bit << i;
  }
  return value;
}

// 1 when bits first..first+width-1 and the parity bit after them hold an even count of ones.
static int ParityHolds(const unsigned char* frame, int first, int width) {
  return CheckParity(TelegramBits(frame, first, width), (uint8_t)width,
                     (int)TelegramBits(frame, first + width, 1));
}

void BuildDataLine(const unsigned char* frame, char* line, int size) {
  size_t used = 0;
  line[0] = '\0';
  for (int i = 12; i <= LastBitByte; ++i) {
    used += (size_t)snprintf(line + used, (size_t)size - used, "%.2X ", frame[i]);
    if (used >= (size_t)size) return;
  }
  for (int i = FirstBitByte; i <= LastBitByte; ++i) {
    char bits[9];
    BitText(ReverseBits(frame[i]), bits);
    used += (size_t)snprintf(line + used, (size_t)size - used, "%s ", bits);
    if (used >= (size_t)size) return;
  }
  snprintf(line + used, (size_t)size - used, "\n");
}

const char CheckMessages[CheckCount][CheckMessageSize] = {
    "Bad data!", "Bad start bit!", "Bad marks in new minute!", "Bad minute parity!",
    "Bad hour parity!", "Bad date parity!"};

void AddFailedCheck(DecodeResult* result, int32_t check) {
  if (result->failedCount < CheckCount) result->failed[result->failedCount++] = check;
  if (check != CheckBadData) result->telegram.valid = 0;
}

void DecodeRawTelegram(const unsigned char* frame, int32_t century, DecodeResult* result) {
  memset(result, 0, sizeof *result);
  TimeTelegram& telegram = result->telegram;
  telegram.valid = 1;
  telegram.R = (int32_t)TelegramBits(frame, 15, 1);
  telegram.A1 = (int32_t)TelegramBits(frame, 16, 1);
  telegram.Z1 = (int32_t)TelegramBits(frame, 17, 1);
  telegram.Z2 = (int32_t)TelegramBits(frame, 18, 1);
  telegram.A2 = (int32_t)TelegramBits(frame, 19, 1);
  telegram.S = (int32_t)TelegramBits(frame, 20, 1);
  if (!(frame[12] == 0 && frame[13] == 59)) {
    AddFailedCheck(result, CheckBadData);
    return;
  }
  result->complete = 1;
  if (telegram.S == 0) AddFailedCheck(result, CheckStartBit);
  if (frame[0] != 0) AddFailedCheck(result, CheckMarks);
  telegram.second = (int8_t)frame[1];
  telegram.minute = BcdToInt((uint8_t)TelegramBits(frame, 21, 7));
  if (!ParityHolds(frame, 21, 7)) AddFailedCheck(result, CheckMinuteParity);
  telegram.hour = BcdToInt((uint8_t)TelegramBits(frame, 29, 6));
  if (!ParityHolds(frame, 29, 6)) AddFailedCheck(result, CheckHourParity);
  telegram.day = BcdToInt((uint8_t)TelegramBits(frame, 36, 6));
  telegram.weekday = (int32_t)TelegramBits(frame, 42, 3);
  telegram.month = BcdToInt((uint8_t)TelegramBits(frame, 45, 5));
  // Added in unsigned arithmetic: any century setting wraps instead of overflowing.
  telegram.year = (int32_t)((uint32_t)BcdToInt((uint8_t)TelegramBits(frame, 50, 8)) +
                            (uint32_t)century);
  telegram.millisecond = (int8_t)frame[24] * 10;
  if (!ParityHolds(frame, 36, 22)) AddFailedCheck(result, CheckDateParity);
}
