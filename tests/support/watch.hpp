// An engine observer built from a function of the level, which returns false
// to stop the run.
#pragma once

#include <utility>

#include "engine/engine.hpp"

namespace diffusim::testing {

template <typename F>
class Watch final : public RunObserver {
 public:
  explicit Watch(F f) : f_(std::move(f)) {}
  bool onLevel(const Level& level) override { return f_(level); }

 private:
  F f_;
};

}  // namespace diffusim::testing
