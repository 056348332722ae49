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

RunFigures RunModel(const ModelRun& run) {
  ClockModel model;
  StartModel(&model, run.platform, run.startOffsetMs, run.naturalPpm, run.seed);
  static DisciplineState state;
  ResetDiscipline(&state, run.startPpm, run.platform == ModelLinux ? SlewAtKernelRate : SlewSpread);
  if (run.discipline) model.correctionPpm = state.frequencyPpm;

  RunFigures figures;
  memset(&figures, 0, sizeof figures);
  double sumSquares = 0.0;
  long measured = 0;
  long seconds = (long)(run.hours * 3600.0), settle = (long)(run.settleHours * 3600.0);
  long shiftAt = (long)(run.shiftHours * 3600.0), shiftEnd = shiftAt + (long)run.shiftSeconds;
  for (long s = 1; s <= seconds; ++s) {
    AdvanceModel(&model, 1000.0);
    if (s == seconds / 2) model.naturalPpm += run.frequencyStep;
    if (run.discipline) DisciplineSlewEnds(&state, ModelMonotonicMs(&model));
    // The module's time against the truth: PC minus module = offset - shift.
    int shifted = run.moduleShiftMs != 0.0 && s >= shiftAt && (run.shiftSeconds == 0.0 || s < shiftEnd);
    double reference = run.shiftSeconds == 0.0 && shifted ? run.moduleShiftMs : 0.0;
    if (s % run.pollSeconds == 0) {
      double sample = ModelSample(&model) - (shifted ? run.moduleShiftMs : 0.0);
      DisciplineCommand command;
      if (run.discipline) {
        command = DisciplineSample(&state, sample, ModelMonotonicMs(&model), run.pollSeconds, run.stepMs);
      } else {
        memset(&command, 0, sizeof command);
        if (fabs(sample) >= run.stepMs) command.action = DisciplineStep;
      }
      if (command.action == DisciplineStep) {
        if (figures.steps > 0 && sample > 0.0) ++figures.backwardJumps;
        ++figures.steps;
      }
      ApplyCommand(&model, &command, sample);
    }
    if (s > 3600) {
      figures.beyondDriftPpm =
          fmax(figures.beyondDriftPpm, fabs(model.correctionPpm) - fabs(model.naturalPpm));
    }
    if (s > settle) {
      double error = fabs(model.offsetMs - reference);
      sumSquares += error * error;
      ++measured;
      if (error > figures.worstMs) figures.worstMs = error;
    }
  }
  figures.rmsMs = measured > 0 ? sqrt(sumSquares / (double)measured) : 0.0;
  figures.frequencyLeftPpm = model.naturalPpm + model.correctionPpm;
  return figures;
}
