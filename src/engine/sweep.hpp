// Sweeps: every combination of the swept values (the temperature of every
// stage, any value of the schedule by its key), run on the shared worker pool and
// handed on in order, a batch at a time, so that memory does not grow with
// the number of cases.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "model/process.hpp"
#include "model/schedule_parameter.hpp"

namespace diffusim {

// One swept value of the schedule and its values; one value sets it.
struct SweepAxis {
  ScheduleParameter parameter;
  std::vector<double> values;
};

struct SweepAxes {
  std::vector<double> temperatures;  // every stage's temperature; one value: set, not swept
  std::vector<SweepAxis> values;     // in column order
};

class Sweep {
 public:
  Sweep(ProcessSchedule base, SweepAxes axes);
  // The number of cases (a double: a product of lists may pass any integer).
  double cases() const { return cases_; }
  // The swept values of case i, in column order: the temperature, then the
  // swept values in the order given. The last list varies fastest.
  std::vector<double> values(std::size_t i) const;
  ProcessSchedule schedule(std::size_t i) const;
  bool sweepsTemperature() const { return axes_.temperatures.size() > 1; }
  const SweepAxes& axes() const { return axes_; }

 private:
  ProcessSchedule base_;
  SweepAxes axes_;
  double cases_ = 1.0;
};

// Computes cases 0..n-1 with work(i) on `threads` threads (the calling one
// among them), at most `threads` at a time, and hands each to emit(i) on
// the calling thread in order once its batch is done. emit returning false
// ends the sweep. An exception thrown by work is rethrown here.
void runInOrder(std::size_t n, unsigned threads, const std::function<void(std::size_t)>& work,
                const std::function<bool(std::size_t)>& emit);

}  // namespace diffusim
