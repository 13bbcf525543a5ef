// The rows of the all-profiles file, "%.3d\t%f\t%f\t\r\n" per grid point,
// produced at memory speed: the index and distance columns are the same in
// every block and are formatted once per report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace diffusim {

class ProfileRowWriter {
 public:
  // Formats "%.3d\t%f\t" for i = 0..n-1 at distance i * dx.
  ProfileRowWriter(std::int32_t n, double dx);

  // Appends the n rows of one time level.
  void appendRows(std::string& out, const double* level) const;

  std::int32_t points() const { return n_; }

 private:
  std::int32_t n_;
  std::string prefixes_;                    // all prefixes back to back
  std::unique_ptr<std::uint32_t[]> start_;  // row i's prefix: [start_[i], start_[i+1])
};

}  // namespace diffusim
