// The two decoders of the module's answers, pure functions of the frame.
#ifndef DCFSYNC_DECODE_DECODE_H
#define DCFSYNC_DECODE_DECODE_H

#include <stdint.h>

#include "clock/telegram.h"

enum { RawTelegramFrameSize = 26, DecodedTimeFrameSize = 10, DataLineSize = 256 };

// A frame's checks in the raw decoder's order (the decoded-time decoder's: bad
// data, parities, marks). Bad data: incomplete or not marked valid.
enum DecodeCheck {
  CheckBadData, CheckStartBit, CheckMarks, CheckMinuteParity, CheckHourParity, CheckDateParity,
  CheckCount
};
enum { CheckMessageSize = 32 };
extern const char CheckMessages[CheckCount][CheckMessageSize];  // by DecodeCheck

// The telegram (capture left zero) and the checks that failed, in order.
struct DecodeResult {
  TimeTelegram telegram;
  int32_t complete;  // 0: rejected outright (CheckBadData); the telegram is not evaluated
  int32_t failedCount;
  int32_t failed[CheckCount];
};

// Records a failed check; any but CheckBadData makes the telegram invalid.
void AddFailedCheck(DecodeResult* result, int32_t check);

// Raw frame: bad marks, second, ..., completeness byte 12, bit count byte 13,
// bits 0..58 in bytes 15..22 (bit n at byte 15 + n / 8, position n % 8),
// hundredths in byte 24. The year's century is added from century.
void DecodeRawTelegram(const unsigned char* frame, int32_t century, DecodeResult* result);

// Decoded-time frame: flags and parity verdicts, minute, hour, day,
// month/weekday/R, year, second, bad marks, hundredths.
void DecodeDecodedTime(const unsigned char* frame, int32_t century, DecodeResult* result);

int8_t BcdToInt(uint8_t value);  // weights 1 2 4 8 10 20 40 80, summed in 8 bits
int CheckParity(uint32_t data, uint8_t bits, int parityBit);  // 1 when even overall
uint8_t ReverseBits(uint8_t value);
void BitText(uint8_t value, char* text);  // 8 digits, most significant first, + terminator

// The data-file line of a raw frame after its timestamp: bytes 12..23 in hex,
// bytes 15..23 as bit groups in telegram order, line feed (118 characters).
void BuildDataLine(const unsigned char* frame, char* line, int size);

#endif
