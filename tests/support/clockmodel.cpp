// The simulated PC clock. See clockmodel.h.
#include "support/clockmodel.h"

#include <math.h>
#include <string.h>

void StartModel(ClockModel* model, ModelPlatform platform, double offsetMs, double naturalPpm,
                uint64_t seed) {
  memset(model, 0, sizeof *model);
  model->offsetMs = offsetMs;
  model->naturalPpm = naturalPpm;
  model->platform = platform;
  model->walkPpmPerHour = 0.1;
  model->jitterMs = 1.0;
  model->random = seed * 0x9E3779B97F4A7C15ULL + 1;
  model->slewRatePpm = KernelSlewPpm;
}

double ModelUniform(ClockModel* model) {
  // xorshift64*
  uint64_t x = model->random;
  x ^= x >> 12;
  x ^= x << 25;
  x ^= x >> 27;
  model->random = x;
  return (double)((x * 0x2545F4914F6CDD1DULL) >> 11) / 9007199254740992.0;
}

double ModelNormal(ClockModel* model) {
  double u = ModelUniform(model);
  double v = ModelUniform(model);
  return sqrt(-2.0 * log(1.0 - u)) * cos(6.283185307179586 * v);
}

void AdvanceModel(ClockModel* model, double dtMs) {
  model->trueMs += dtMs;
  model->offsetMs += (model->naturalPpm + model->correctionPpm) * 1e-6 * dtMs;
  if (model->slewLeftMs != 0.0) {
    double size = fabs(model->slewLeftMs);
    double step = model->slewRatePpm * 1e-6 * dtMs;
    // Linux ends the slew exactly; the Windows shell ends the tick
    // adjustment when it looks next, so the slew runs for whole steps.
    if (model->platform == ModelLinux && step > size) step = size;
    double sign = model->slewLeftMs > 0.0 ? 1.0 : -1.0;
    model->offsetMs -= sign * step;
    model->slewLeftMs = size > step ? sign * (size - step) : 0.0;
  }
  model->naturalPpm += model->walkPpmPerHour * sqrt(dtMs / 3600000.0) * ModelNormal(model);
}

double ModelSample(ClockModel* model) {
  double cut = 10.0 * ModelUniform(model);
  return model->offsetMs + cut - 5.0 + model->jitterMs * ModelNormal(model);
}

void ApplyCommand(ClockModel* model, const DisciplineCommand* command, double sampleMs) {
  if (command->action == DisciplineStep) {
    model->offsetMs -= sampleMs;
    model->slewLeftMs = 0.0;
  } else if (command->action == DisciplineAdjust) {
    model->correctionPpm = command->frequencyPpm;
    model->slewLeftMs = command->slewMs;
    model->slewRatePpm = model->platform == ModelLinux ? KernelSlewPpm : command->slewRatePpm;
  }
}

int64_t ModelMonotonicMs(const ClockModel* model) { return (int64_t)llround(model->trueMs); }

RunFigures RunModel(ModelPlatform platform, double naturalPpm, double startOffsetMs,
                    int32_t pollSeconds, int discipline, double stepMs, double hours,
                    double settleHours, double frequencyStep, double startPpm, uint64_t seed) {
  ClockModel model;
  StartModel(&model, platform, startOffsetMs, naturalPpm, seed);
  static DisciplineState state;
  ResetDiscipline(&state, startPpm, platform == ModelLinux ? SlewAtKernelRate : SlewSpread);
  if (discipline) model.correctionPpm = state.frequencyPpm;

  RunFigures figures;
  memset(&figures, 0, sizeof figures);
  double sumSquares = 0.0;
  long measured = 0;
  long seconds = (long)(hours * 3600.0);
  long settle = (long)(settleHours * 3600.0);
  for (long s = 1; s <= seconds; ++s) {
    AdvanceModel(&model, 1000.0);
    if (s == seconds / 2) model.naturalPpm += frequencyStep;
    if (discipline) DisciplineSlewEnds(&state, ModelMonotonicMs(&model));
    if (s % pollSeconds == 0) {
      double sample = ModelSample(&model);
      DisciplineCommand command;
      if (discipline) {
        command = DisciplineSample(&state, sample, ModelMonotonicMs(&model), pollSeconds, stepMs);
      } else {
        memset(&command, 0, sizeof command);
        if (fabs(sample) >= stepMs) command.action = DisciplineStep;
      }
      if (command.action == DisciplineStep) {
        if (figures.steps > 0 && sample > 0.0) ++figures.backwardJumps;
        ++figures.steps;
      }
      ApplyCommand(&model, &command, sample);
    }
    if (s > settle) {
      double error = fabs(model.offsetMs);
      sumSquares += error * error;
      ++measured;
      if (error > figures.worstMs) figures.worstMs = error;
    }
  }
  figures.rmsMs = measured > 0 ? sqrt(sumSquares / (double)measured) : 0.0;
  figures.frequencyLeftPpm = model.naturalPpm + model.correctionPpm;
  return figures;
}
