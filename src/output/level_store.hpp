// The grid error estimate's levels in a spool: bounded memory, then an
// unnamed temporary file.
#pragma once

#include <string_view>

#include "engine/scheme.hpp"
#include "output/spool.hpp"

namespace diffusim {

class SpooledLevels final : public LevelStore {
 public:
  void append(const double* values, std::size_t count) override {
    spool_.write(std::string_view(reinterpret_cast<const char*>(values), count * sizeof(double)));
  }
  bool rewind() override { return spool_.rewind(); }
  bool next(double* values, std::size_t count) override {
    return spool_.read(values, count * sizeof(double));
  }

 private:
  Spool spool_;
};

}  // namespace diffusim
