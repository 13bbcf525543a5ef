#include "words/fault_words.hpp"

#include "format/number_format.hpp"

namespace diffusim {

namespace {

// Counts are shown whole while they fit a double exactly, in %g beyond.
std::string countText(double count) {
  return (count > -1e15 && count < 1e15) ? fixed(count, 0) : general(count);
}

}  // namespace

std::string gridFaultReason(const GridCheck& c, std::string_view what) {
  const std::string v = general(c.value);
  switch (c.fault) {
    case GridFault::None:
      return {};
    case GridFault::TargetNotPositive:
      return "the " + std::string(what) + " must be greater than 0 (got " + v + ")";
    case GridFault::DiffusivityInvalid:
      return "the diffusion coefficient D = " + v +
             " is not a finite positive number (check T, A and B)";
    case GridFault::SpacingInvalid:
      return "the grid spacing dx = " + v +
             "(m) is not a finite positive number (check the specimen length)";
    case GridFault::TimeStepInvalid:
      return "the time step dt = " + v + "(s) is not a finite positive number";
    case GridFault::MeshRatioInvalid:
      return "the mesh ratio D*dt/dx^2 = " + v + " is not a finite positive number";
    case GridFault::QuotientTooLarge:
      return "the " + std::string(what) + " is " + v +
             " times the current step; the remainder rule allows less than 2147483648";
    case GridFault::TooFewPoints:
      return "the grid would have " + countText(c.value) + " grid points; the minimum is 2";
    case GridFault::TooManyPoints:
      return "the grid would need " + countText(c.value) + " grid points; the maximum is 10000";
    case GridFault::TooManySteps:
      return "reaching this time would take " + countText(c.value) +
             " steps; the maximum is 2147483644";
  }
  return {};
}

}  // namespace diffusim
