// The clock discipline against the simulated clock (tests/support/
// clockmodel.h), beside today's stepping on the same model and seeds: after a
// settling hour, the RMS and worst |PC - true|, the steps, the backward jumps
// after the first synchronisation, the frequency error left and the largest
// correction beyond the clock's own error; then the module's disturbances.
// Run through bench/discipline.
#include <stdio.h>
#include <stdlib.h>

#include "support/clockmodel.h"

static void Row(const char* name, ModelRun run, uint64_t seeds) {
  double rms = 0.0, worst = 0.0, left = 0.0, beyond = 0.0;
  long steps = 0, backward = 0;
  for (run.seed = 1; run.seed <= seeds; ++run.seed) {
    RunFigures f = RunModel(run);
    rms += f.rmsMs * f.rmsMs;
    worst = f.worstMs > worst ? f.worstMs : worst;
    left = __builtin_fabs(f.frequencyLeftPpm) > left ? __builtin_fabs(f.frequencyLeftPpm) : left;
    beyond = f.beyondDriftPpm > beyond ? f.beyondDriftPpm : beyond;
    steps += f.steps;
    backward += f.backwardJumps;
  }
  printf("| %s | %s | %+.0f | %d s | %s | %.2f | %.2f | %.1f | %.1f | %.2f | %.2f |\n", name,
         run.platform == ModelLinux ? "Linux" : "Windows", run.naturalPpm, run.pollSeconds,
         run.discipline ? "discipline" : "step", __builtin_sqrt(rms / (double)seeds), worst,
         (double)steps / (double)seeds, (double)backward / (double)seeds, left, beyond);
}

int main(int argc, char** argv) {
  uint64_t seeds = argc > 1 ? strtoull(argv[1], NULL, 10) : 5;
  double hours = argc > 2 ? strtod(argv[2], NULL) : 48.0;
  printf("%.0f simulated hours a run, %llu seeds, first hour not measured: RMS over all seeds;"
         " worst, ppm left and ppm beyond the clock's error the largest of any seed; mean steps\n\n",
         hours, (unsigned long long)seeds);
  printf("| case | platform | clock | poll | mode | RMS ms | worst ms | steps | backward | ppm left"
         " | ppm beyond |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
  const double errors[] = {50.0, -30.0, 200.0};
  const int polls[] = {60, 1};
  for (int platform = ModelLinux; platform <= ModelWindows; ++platform)
    for (double ppm : errors)
      for (int poll : polls)
        for (int discipline = 1; discipline >= 0; --discipline)
          Row("undisturbed", {(ModelPlatform)platform, ppm, 3700.0, poll, discipline, 100.0, hours,
                              1.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0}, seeds);
  // The module off for a while, or for good, two hours into a four-hour run,
  // the error measured from the hour before (against the module's new time
  // from 10 minutes after a lasting jump).
  const struct {
    const char* name;
    double shiftMs, seconds, settle;
  } disturbances[] = {
      {"module +50 ms for 10 s", 50.0, 10.0, 1.0},  {"module -50 ms for 10 s", -50.0, 10.0, 1.0},
      {"module +50 ms for 45 s", 50.0, 45.0, 1.0},  {"module +60 ms for good", 60.0, 0.0, 2.0 + 10.0 / 60},
      {"module -60 ms for good", -60.0, 0.0, 2.0 + 10.0 / 60}};
  for (const auto& d : disturbances)
    for (int poll : polls)
      Row(d.name, {ModelLinux, 200.0, 3700.0, poll, 1, 100.0, 4.0, d.settle, 0.0, 0.0, 0,
                   d.shiftMs, 2.0, d.seconds}, seeds);
  return 0;
}
