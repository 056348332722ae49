// The two decoders of the module's answers, pure functions of the frame,
// and the shell around them: it takes the PC clock at the moment the module
// read its own clock for the answer (its capture), writes the data line,
// logs every failed check and has the telegram evaluated and the decision
// carried out; a frame that fails the first check is logged as "Bad data!"
// and resets ContValidTime instead.
#ifndef DCFSYNC_DECODE_DECODE_H
#define DCFSYNC_DECODE_DECODE_H

#include <stdint.h>

#include "clock/evaluate.h"
#include "clock/telegram.h"

enum {
  RawTelegramFrameSize = 26,
  DecodedTimeFrameSize = 10,
  DataLineSize = 256
};

// The checks of a frame, in the order the raw decoder makes them (the
// decoded-time decoder: bad data, then the parities, then the marks).
enum DecodeCheck {
  CheckBadData,        // "Bad data!": incomplete, or not marked valid; nothing follows
  CheckStartBit,       // "Bad start bit!"
  CheckMarks,          // "Bad marks in new minute!"
  CheckMinuteParity,   // "Bad minute parity!"
  CheckHourParity,     // "Bad hour parity!"
  CheckDateParity,     // "Bad date parity!"
  CheckCount
};
enum { CheckMessageSize = 32 };
extern const char CheckMessages[CheckCount][CheckMessageSize];  // by DecodeCheck

// What a decoder makes of a frame: the telegram (capture left zero, valid
// when no check failed) and the checks that failed, in order.
struct DecodeResult {
  TimeTelegram telegram;
  int32_t complete;          // 0: rejected outright (CheckBadData); the telegram is not evaluated
  int32_t failedCount;
  int32_t failed[CheckCount];
};

// Records a failed check; any but CheckBadData makes the telegram invalid.
void AddFailedCheck(DecodeResult* result, int32_t check);

// Raw telegram frame (26 bytes): bad-marks byte, second, ..., completeness
// byte 12, bit count byte 13, telegram bits 0..58 in bytes 15..22 (bit n at
// byte 15 + n / 8, position n % 8), hundredths in byte 24; the year's
// century added from century.
void DecodeRawTelegram(const unsigned char* frame, int32_t century, DecodeResult* result);

// Decoded-time frame (10 bytes): flags and parity verdicts, minute, hour,
// day, month/weekday/R, year, second, bad marks, hundredths.
void DecodeDecodedTime(const unsigned char* frame, int32_t century, DecodeResult* result);

// The shell. Each decodes its frame (century from the settings), takes the
// capture, and carries the result out with counting as the run's counting
// state. The raw one appends every complete frame to the data file while
// WriteData is on, before any other line.
void DecodeRawTelegramFrame(const unsigned char* frame, CountingState* counting);
void DecodeDecodedTimeFrame(const unsigned char* frame, CountingState* counting);
// The same with the capture given (raw: 1 for the raw frame, 0 decoded time).
void DecodeFrame(const unsigned char* frame, int raw, const PcTime* capture,
                 CountingState* counting);

// Evaluates telegram with the settings and counting (EvaluateTelegram) and
// carries the decision out (CarryOutEvaluation).
void HandleTelegram(const TimeTelegram* telegram, CountingState* counting);

// Carries out an evaluation's decision about telegram: logs its lines, hands
// a trusted telegram to the time daemon's feed (FeedReferenceClock) after
// the first decision->linesBeforeFeed of them, and, when it says so, sets
// the clock to the PC clock now plus decision->offsetMs ("Synchronizing time
// to ..." in the PC's own zone, then SetPcUtcTime; "Can't set time! errno
// N" when the system refuses).
// With the clock discipline on (ClockSampleHook set), a trusted telegram
// with DCFSetTime on is first handed to the hook; when it takes it (below
// SynchronizeDiff: slewed), the clock is not set.
void CarryOutEvaluation(const TimeTelegram* telegram, const EvaluationDecision* decision);

// Where CarryOutEvaluation hands the difference (ms, PC minus receiver: the
// negated offsetMs) of a trusted telegram while DCFSetTime is on: the clock
// discipline, which the program points it at when ClockDiscipline is on. It
// returns 1 when it took the difference (the clock is slewed, not set), 0
// when the decision is to be carried out as without it. NULL, the start
// value: the clock is set as always.
typedef int (*ClockSampleHandler)(double difference);
extern ClockSampleHandler ClockSampleHook;

// Where CarryOutEvaluation reports the poll's outcome to the run's health:
// (offsetMs, 0) for a trusted telegram, (0, 1) after the clock was set.
// NULL: nobody listens.
typedef void (*ReceptionHandler)(double offsetMs, int32_t clockSet);
extern ReceptionHandler ReceptionHook;

// The capture of the answer just received, frameBytes long: the PC clock
// now taken back to the moment the module read its own clock, by
// AnswerCaptureTime with the port's record of the last byte (PortLastByteMs)
// and the configured rate (Settings.baud); its zone fields are those of that
// moment.
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
