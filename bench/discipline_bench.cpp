// The clock discipline against the simulated clock (tests/support/
// clockmodel.h), beside today's stepping, on the same model and seeds: after
// a settling hour, the RMS and worst |PC - true|, the steps, the backward
// jumps after the first synchronisation and the frequency error left.
// Run through bench/discipline.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/clockmodel.h"

static void Row(const char* platform, double ppm, int poll, int discipline, uint64_t seeds,
                double hours) {
  double rms = 0.0, worst = 0.0, left = 0.0;
  long steps = 0, backward = 0;
  for (uint64_t seed = 1; seed <= seeds; ++seed) {
    RunFigures f = RunModel(strcmp(platform, "Linux") == 0 ? ModelLinux : ModelWindows, ppm,
                            3700.0, poll, discipline, 100.0, hours, 1.0, 0.0, 0.0, seed);
    rms += f.rmsMs * f.rmsMs;
    if (f.worstMs > worst) worst = f.worstMs;
    double l = f.frequencyLeftPpm < 0 ? -f.frequencyLeftPpm : f.frequencyLeftPpm;
    if (l > left) left = l;
    steps += f.steps;
    backward += f.backwardJumps;
  }
  printf("| %s | %+.0f | %d s | %s | %.2f | %.2f | %.1f | %.1f | %.2f |\n", platform, ppm, poll,
         discipline ? "discipline" : "step", __builtin_sqrt(rms / (double)seeds), worst,
         (double)steps / (double)seeds, (double)backward / (double)seeds, left);
}

int main(int argc, char** argv) {
  uint64_t seeds = argc > 1 ? strtoull(argv[1], NULL, 10) : 5;
  double hours = argc > 2 ? strtod(argv[2], NULL) : 48.0;
  printf("%.0f simulated hours a run, %llu seeds, first hour not measured; per seed:"
         " RMS over all seeds, worst and largest frequency left of any seed, mean steps\n\n",
         hours, (unsigned long long)seeds);
  printf("| platform | clock | poll | mode | RMS ms | worst ms | steps | backward | ppm left |\n");
  printf("|---|---|---|---|---|---|---|---|---|\n");
  const char* platforms[] = {"Linux", "Windows"};
  const double errors[] = {50.0, -30.0};
  const int polls[] = {60, 1};
  for (const char* platform : platforms)
    for (double ppm : errors)
      for (int poll : polls)
        for (int discipline = 1; discipline >= 0; --discipline)
          Row(platform, ppm, poll, discipline, seeds, hours);
  return 0;
}
