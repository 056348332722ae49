// The two decoders of the module's answers. Each first takes the PC clock
// at the moment the module read its own clock for the answer (its capture),
// checks the frame, logs every failed check and hands the telegram to
// EvaluateTelegram; a frame that fails the first check is logged as
// "Bad data!" and resets ContValidTime instead.
#ifndef DCFSYNC_DECODE_DECODE_H
#define DCFSYNC_DECODE_DECODE_H

#include <stdint.h>

#include "clock/telegram.h"

enum {
  RawTelegramFrameSize = 26,
  DecodedTimeFrameSize = 10,
  DataLineSize = 256
};

// Raw telegram frame (26 bytes): bad-marks byte, second, ..., completeness
// byte 12, bit count byte 13, telegram bits 0..58 in bytes 15..22 (bit n at
// byte 15 + n / 8, position n % 8), hundredths in byte 24. While WriteData is
// on, every complete frame is appended as one line to the data file.
void DecodeRawTelegramFrame(const unsigned char* frame);

// Decoded-time frame (10 bytes): flags and parity verdicts, minute, hour,
// day, month/weekday/R, year, second, bad marks, hundredths.
void DecodeDecodedTimeFrame(const unsigned char* frame);

// The capture of the answer just received, frameBytes long: the PC clock
// now taken back to the moment the module read its own clock, by
// AnswerCaptureTime with the port's record of the last byte (PortLastByteMs)
// and the configured rate (Settings.baud); its zone fields are those of that
// moment. Called by both decoders right at their start.
void CaptureAnswerTime(PcTime* capture, int32_t frameBytes);

// Helpers of the raw decoder.
int8_t BcdToInt(uint8_t value);  // weights 1 2 4 8 10 20 40 80, summed in 8 bits
int CheckParity(uint32_t data, uint8_t bits, int parityBit);  // 1 when even overall
uint8_t ReverseBits(uint8_t value);
void BitText(uint8_t value, char* text);  // 8 digits, most significant first, + terminator

// The data-file line of a raw frame: timestamp, bytes 12..23 in hex, bytes
// 15..23 as bit groups in telegram order, line feed (138 characters).
void BuildDataLine(const unsigned char* frame, char* line, int size);

#endif
