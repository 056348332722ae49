// The pulse receiver's figures, simulated in-process over a day of minutes:
// the timeline of the simulator's encoder (true times), the PC clock's
// readings of each edge, the pulse decoder, the raw decoder, the evaluation
// and the clock discipline against a modelled clock. Prints the figures of
// docs/pulse.md:
//   exact edges   the difference of every telegram against the true one
//   discipline    a 50 ppm clock held by the loop on the pulse's samples
//   noise         5 % glitch pulses, 1 % flipped bits: minutes framed and
//                 valid, the sets the evaluation asks for and their error
//   cpu, memory   the decoder's time per second of listening; its record
// Usage: pulse_bench [hours] (default 24).
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "clock/discipline.h"
#include "clock/evaluate.h"
#include "decode/decode.h"
#include "decode/pulse.h"
#include "encode.h"
#include "support/clockmodel.h"

namespace {

const int64_t StartUtcMs = 1796860800000LL;  // 2026-12-09 00:00 UTC
enum { Capacity = 24 * 60 * 60 * 6 };
PulseTimelineEdge Edges[Capacity];

int Timeline(int minutes, const PulseFaults& faults) {
  return BuildPulseTimeline(StartUtcMs, minutes, 0, &faults, Edges, Capacity);
}

// The telegram of a decoder's output with the capture as the PC read it,
// and the PC clock's difference to it (ms, PC minus receiver).
int Difference(const PulseOutput& out, DecodeResult* result, double* difference) {
  DecodeRawTelegram(out.frame, 2000, result);
  int64_t ms = (int64_t)floor((double)out.captureWallUs / 1000.0 + 0.5);
  result->telegram.capture.time = ms / 1000;
  result->telegram.capture.millitm = (uint16_t)(ms % 1000);
  DifferenceBreakdown unused;
  ClockDifference(&result->telegram, &unused, difference);
  return result->failedCount == 0;
}

double Seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  double hours = argc > 1 ? atof(argv[1]) : 24.0;
  int minutes = (int)(hours * 60);
  PulseFaults clean = {0, 0, 0, 0, 0, 0, 1};

  // Exact edges, the PC clock 1234.5 ms ahead and a µs more each minute (so
  // the capture's rounding to the ms shows as it falls); wake-up 60 µs late.
  int count = Timeline(minutes, clean);
  PulseDecoder decoder;
  PulseDecoderStart(&decoder, 0, 0);
  double sum = 0, worst = 0;
  int telegrams = 0;
  double cpu = Seconds();
  for (int i = 0; i < count; ++i) {
    int64_t aheadUs = 1234500 + Edges[i].utcMs / 60000 % 1000;
    PulseEdge edge = {Edges[i].utcMs - StartUtcMs, Edges[i].utcMs * 1000 + aheadUs + 60,
                      Edges[i].level};
    PulseOutput out;
    if (!FeedPulseEdge(&decoder, &edge, &out) || !out.telegram) continue;
    DecodeResult result;
    double difference = 0;
    if (!Difference(out, &result, &difference)) continue;
    int64_t named = (int64_t)TelegramUtc(&result.telegram).utcMs;  // second 0's true time
    double error = fabs(difference - (double)(1234500 + named / 60000 % 1000) / 1000.0);
    sum += error;
    worst = error > worst ? error : worst;
    ++telegrams;
  }
  cpu = Seconds() - cpu;
  printf("exact edges: %d of %d minutes, set error mean %.3f ms, worst %.3f ms\n", telegrams,
         minutes, telegrams ? sum / telegrams : 0.0, worst);
  printf("cpu: %.3f us per second of listening (decoder and raw decoder, %d edges)\n",
         cpu * 1e6 / (minutes * 60.0), count);

  // The discipline on the pulse's samples: a 50 ppm clock, 300 ms off.
  ClockModel model;
  StartModel(&model, ModelLinux, 300.0, 50.0, 7);
  static DisciplineState state;
  ResetDiscipline(&state, 0.0, SlewAtKernelRate);
  PulseDecoderStart(&decoder, 0, 0);
  double squares = 0, worstHeld = 0;
  long measured = 0;
  for (int i = 0; i < count; ++i) {
    double trueMs = (double)(Edges[i].utcMs - StartUtcMs);
    if (trueMs > model.trueMs) AdvanceModel(&model, trueMs - model.trueMs);
    DisciplineSlewEnds(&state, ModelMonotonicMs(&model));
    if (trueMs > 2 * 3600 * 1000.0) {
      squares += model.offsetMs * model.offsetMs;
      worstHeld = fmax(worstHeld, fabs(model.offsetMs));
      ++measured;
    }
    PulseEdge edge = {(int64_t)trueMs,
                      (int64_t)llround((double)Edges[i].utcMs * 1000 + model.offsetMs * 1000 + 60),
                      Edges[i].level};
    PulseOutput out;
    if (!FeedPulseEdge(&decoder, &edge, &out) || !out.telegram) continue;
    DecodeResult result;
    double difference = 0;
    if (!Difference(out, &result, &difference)) continue;
    DisciplineCommand command =
        DisciplineSample(&state, difference, ModelMonotonicMs(&model), 60, 100.0);
    ApplyCommand(&model, &command, difference);
  }
  printf("discipline: 50 ppm clock, after 2 h: %.3f ms RMS, worst %.3f ms, %.3f ppm left\n",
         measured ? sqrt(squares / (double)measured) : 0.0, worstHeld,
         model.naturalPpm + model.correctionPpm);

  // Noise: the evaluation's sets, the PC clock 3 s behind.
  PulseFaults noisy = {0.05, 0, 0.01, 3, 0, 0, 11};
  count = Timeline(minutes, noisy);
  PulseDecoderStart(&decoder, 0, 0);
  SettingsRecord settings;
  DefaultSettings(&settings);
  settings.DCFSetTime = 1;
  CountingState counting;
  ResetCountingState(&counting);
  ChainState chain = {};
  int framed = 0, valid = 0, sets = 0, wrong = 0;
  double worstSet = 0;
  for (int i = 0; i < count; ++i) {
    PulseEdge edge = {Edges[i].utcMs - StartUtcMs, Edges[i].utcMs * 1000 - 3000000,
                      Edges[i].level};
    PulseOutput out;
    if (!FeedPulseEdge(&decoder, &edge, &out) || !out.telegram) continue;
    DecodeResult result;
    double difference = 0;
    ++framed;
    valid += Difference(out, &result, &difference);
    PollDecision decision;
    StartDecision(&decision);
    DecideTelegram(&result.telegram, out.captureMonoMs, &settings, &counting, &chain, NULL,
                   &decision);
    if (!decision.setClock) continue;
    ++sets;
    double error = fabs(decision.sample.offsetMs - 3000.0);
    worstSet = error > worstSet ? error : worstSet;
    wrong += error > 1000.0;
  }
  printf("noise (5 %% glitches, 1 %% flipped bits, 3 ms jitter): %d of %d minutes framed "
         "(%.1f %%), %d valid (%.1f %%); %d sets, worst %.3f ms off, %d more than 1 s off\n",
         framed, minutes, 100.0 * framed / minutes, valid, 100.0 * valid / minutes, sets, worstSet,
         wrong);
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("memory: decoder record %zu bytes, fixed; maximum resident %ld kB\n", sizeof decoder,
         usage.ru_maxrss);
  return 0;
}
