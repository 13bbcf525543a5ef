#include "words/fault_words.hpp"

#include <cmath>

#include "format/number_format.hpp"

namespace diffusim {

namespace {

// Counts are shown whole while they fit a double exactly, in %g beyond.
std::string countText(double count) {
  return (count > -1e15 && count < 1e15) ? fixed(count, 0) : general(count);
}

// What a diffusivity that is not a finite number means, in words: it
// overflows, or its terms (0 times infinity) have no value at all.
std::string notFiniteWords(double v) {
  return std::isnan(v) ? "cannot be evaluated (its terms overflow)"
                       : "overflows (it exceeds every finite number)";
}

}  // namespace

std::string gridFaultReason(const Fault& c, std::string_view what) {
  const std::string v = general(c.value);
  switch (c.code) {
    case FaultCode::None:
      return {};
    case FaultCode::GridTargetNotPositive:
      return "the " + std::string(what) + " must be greater than 0 (got " + v + ")";
    case FaultCode::GridDiffusivityInvalid:
      return "the diffusion coefficient D = " + v +
             " is not a finite positive number (check T, A and B)";
    case FaultCode::GridSpacingInvalid:
      return "the grid spacing dx = " + v +
             "(m) is not a finite positive number (check the specimen length)";
    case FaultCode::GridTimeStepInvalid:
      return "the time step dt = " + v + "(s) is not a finite positive number";
    case FaultCode::GridMeshRatioInvalid:
      return "the mesh ratio D*dt/dx^2 = " + v + " is not a finite positive number";
    case FaultCode::GridQuotientTooLarge:
      return "the " + std::string(what) + " is " + v +
             " times the current step; the remainder rule allows less than 2147483648";
    case FaultCode::GridTooFewPoints:
      return "the grid would have " + countText(c.value) + " grid points; the minimum is 2";
    case FaultCode::GridTooManyPoints:
      return "the grid would need " + countText(c.value) + " grid points; the maximum is 10000";
    case FaultCode::GridTooManySteps:
      return "reaching this time would take " + countText(c.value) +
             " steps; the maximum is 2147483644";
    default:  // a plan's or a schedule's: faultText words those
      break;
  }
  return {};
}

std::string gridFaultWords(const Fault& c, std::string_view what) {
  if (std::isfinite(c.value)) return gridFaultReason(c, what);
  const std::string size = std::isnan(c.value) ? "has no value" : "is beyond every finite number";
  switch (c.code) {
    case FaultCode::GridDiffusivityInvalid:
      return "the diffusion coefficient D " + size + " (check T, A and B)";
    case FaultCode::GridSpacingInvalid:
      return "the grid spacing dx " + size + " (check the specimen length)";
    case FaultCode::GridTimeStepInvalid:
      return "the time step dt " + size +
             " (D is too small or the grid spacing too large for any step)";
    case FaultCode::GridMeshRatioInvalid:
      return "the mesh ratio D*dt/dx^2 " + size;
    case FaultCode::GridQuotientTooLarge:
      return "the " + std::string(what) + " is more times the current step than any count; " +
             "the remainder rule allows less than 2147483648";
    case FaultCode::GridTargetNotPositive:
      return "the " + std::string(what) + " must be a finite number greater than 0";
    case FaultCode::GridTooFewPoints:
      return "the grid would have no countable number of grid points; the minimum is 2";
    case FaultCode::GridTooManyPoints:
      return "the grid would need more grid points than any count; the maximum is 10000";
    case FaultCode::GridTooManySteps:
      return "reaching this time would take more steps than any count; the maximum is 2147483644";
    default:
      break;
  }
  return {};
}

std::string faultText(const Fault& f) {
  const std::string stage = "stage " + integer(static_cast<std::int64_t>(f.stage + 1)) + ": ";
  const std::string most = "; the maximum is 2147483647";
  switch (f.code) {
    case FaultCode::None:
      return {};
    case FaultCode::GridTargetNotPositive:
    case FaultCode::GridDiffusivityInvalid:
    case FaultCode::GridSpacingInvalid:
    case FaultCode::GridTimeStepInvalid:
    case FaultCode::GridMeshRatioInvalid:
    case FaultCode::GridQuotientTooLarge:
    case FaultCode::GridTooFewPoints:
    case FaultCode::GridTooManyPoints:
    case FaultCode::GridTooManySteps:
      return gridFaultWords(f, "value");
    case FaultCode::SectionsOutOfRange:
    case FaultCode::ScheduleSections:
      return "the number of sections must be from 1 to 9999 (got " +
             integer(static_cast<std::int64_t>(f.value)) + ")";
    case FaultCode::TemperatureNotPositive:
      return "the temperature must be a finite number above 0 K";
    case FaultCode::LengthNotPositive:
      return "the length must be a finite number above 0 m";
    case FaultCode::DiffusivityNotFinite:
      if (!std::isfinite(f.value))
        return "the diffusion coefficient D = A exp(B/RT) at T = " + shortest(f.temperature) +
               " K " + notFiniteWords(f.value) + "; check T, A and B";
      return "the diffusion coefficient D = A exp(B/RT) = " + general(f.value) +
             " at T = " + shortest(f.temperature) + " K is not a finite positive number";
    case FaultCode::TimeStepNotFinite:
      if (!std::isfinite(f.value))
        return "the time step 0.25 dx^2 / D has no finite length here (D is too small or the "
               "grid spacing too large)";
      return "the time step 0.25 dx^2 / D = " + general(f.value) +
             " s is not a finite positive number";
    case FaultCode::TooManySteps:
      if (!std::isfinite(f.value))
        return "the run would take more time steps than any count" + most;
      return "the run would take " + fixed(f.value, 0) + " time steps" + most;
    case FaultCode::TooManyStepsAtLeast:
      if (!std::isfinite(f.value))
        return "the run would take more time steps than any count" + most;
      // Past 10^21 the count's digits say nothing; its power of ten does.
      if (f.value >= 1e21)
        return "the run would take more than 10^" +
               integer(static_cast<std::int64_t>(std::floor(std::log10(f.value)))) + " time steps" +
               most;
      return "the run would take more than " + fixed(f.value, 0) + " time steps" + most;
    case FaultCode::NoStableStep:
      return "the explicit scheme's stable step is 0 s here (D or the transfer coefficient is too "
             "large for any number of steps)" +
             most + " steps";
    case FaultCode::TooManyLevels:
      return "--every asks for more than " + integer(static_cast<std::int64_t>(f.value)) +
             " results";
    case FaultCode::ImplicitTooManySteps:
      if (!std::isfinite(f.value))
        return "the implicit run's time steps cannot be counted (the diffusivity or the grid "
               "spacing is out of any useful range)" +
               most;
      return "the implicit run would take about " + fixed(f.value, 0) + " time steps" + most;
    case FaultCode::NonFiniteLevel:
      return stage + "at t = " + shortest(f.value) +
             " s the run gave a composition that is not a finite number (D or the surface is "
             "out of any range the step can follow); nothing was written";
    case FaultCode::TimeAfterEnd:
      return "the time " + shortest(f.value) + " s is after the end of the schedule, " +
             shortest(f.high) + " s";
    case FaultCode::SamplesInvalid:
      return countText(f.value) + " of " + countText(f.high) +
             " samples drew a schedule that cannot run (a value out of its range, or an end "
             "before the time asked), more than 1 %; narrow the [uncertainty] table";
    case FaultCode::ScheduleSpacing:
      return "the grid spacing, the specimen's length or radius over the sections, is " +
             general(f.value) + " m: too small for any time step";
    case FaultCode::ScheduleLength:
      return "the specimen length must be a finite number above 0";
    case FaultCode::ScheduleInitial:
      return "the initial composition must be a fraction from 0 to 1";
    case FaultCode::ScheduleLaw:
      return "the diffusivity needs A finite and above 0, and B, a, b finite";
    case FaultCode::ScheduleEmpty:
      return "the schedule has no stage";
    case FaultCode::ScheduleEndNotFinite:
      return "the schedule's end, the sum of its durations, is not a finite number";
    case FaultCode::ScheduleGeometry:
      return "a cylinder or sphere needs a finite radius above 0, an inner radius from 0 to "
             "below it, and a length equal to their difference";
    case FaultCode::ScheduleSteel:
      return "the density and the alloy factor must be finite numbers above 0";
    case FaultCode::ScheduleHardness:
      return "the hardness table needs carbon and HV of equal lengths (2 or more), carbon "
             "increasing and HV not decreasing";
    case FaultCode::StageFluxUnbounded:
      if (!std::isfinite(f.value))
        return stage +
               "the flux could raise the surface composition without bound, past pure "
               "B (1); give it a limit";
      return stage + "the flux could raise the surface composition to " + general(f.value) +
             ", past pure B (1); give it a limit";
    case FaultCode::StageFluxBound:
      return stage + "the flux has no finite bound on the surface composition; give it a limit";
    case FaultCode::StageFluxDiffusivity:
      return stage + "a flux without a limit could take the surface to " +
             general(f.compositionHigh) +
             " on this grid, where D(C) at T = " + shortest(f.temperature) +
             " K is not a finite positive number; give the flux a limit";
    case FaultCode::StageFlux:
      return stage +
             "the flux must be a finite number, 0 or above, and its limit above the "
             "initial composition and at most 1";
    case FaultCode::StageBack:
      return stage +
             "the back face's composition or potential must be a fraction from 0 to 1 "
             "and its beta finite, 0 or above";
    case FaultCode::StageBackOnSolid:
      return stage + "a solid cylinder or sphere has no back face (its centre)";
    case FaultCode::StageDuration:
      return stage + "the duration must be above 0";
    case FaultCode::StageTemperature:
      return stage + "the temperature must be a finite number above 0 K (both ends of a ramp)";
    case FaultCode::StageComposition:
      return stage + "the surface composition must be a fraction from 0 to 1";
    case FaultCode::StagePotential:
      return stage + "the potential must be a fraction from 0 to 1";
    case FaultCode::StageBeta:
      return stage + "beta must be a finite number, 0 or above";
    case FaultCode::StageDiffusivity:
      if (!std::isfinite(f.low) || !std::isfinite(f.high))
        return stage + "at T = " + shortest(f.temperature) + " K, D(C) over the compositions " +
               shortest(f.compositionLow) + " to " + shortest(f.compositionHigh) + " " +
               notFiniteWords(std::isnan(f.low) ? f.low : f.high) +
               "; check the temperature and the law's constants";
      return stage + "at T = " + shortest(f.temperature) + " K, D(C) = " + general(f.low) + " to " +
             general(f.high) + " m^2/s over the compositions " + shortest(f.compositionLow) +
             " to " + shortest(f.compositionHigh) + ": not a finite positive number";
  }
  return {};
}

std::string kernelCapRefusal(std::string_view value) {
  return "DIFFUSIM_KERNELS=" + std::string(value) +
         " is not a kernel level (baseline, avx2 or avx512)";
}

}  // namespace diffusim
