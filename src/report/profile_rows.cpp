#include "report/profile_rows.hpp"

#include "format/number_format.hpp"

namespace diffusim {

ProfileRowWriter::ProfileRowWriter(std::int32_t n, double dx)
    : n_(n < 0 ? 0 : n), start_(new std::uint32_t[static_cast<std::size_t>(n_) + 1]) {
  for (std::int32_t i = 0; i < n_; ++i) {
    start_[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(prefixes_.size());
    appendInt(prefixes_, i, 3);
    prefixes_ += '\t';
    appendFixed(prefixes_, static_cast<double>(i) * dx, 6);
    prefixes_ += '\t';
  }
  start_[static_cast<std::size_t>(n_)] = static_cast<std::uint32_t>(prefixes_.size());
}

void ProfileRowWriter::appendRows(std::string& out, const double* level) const {
  // Each row needs its prefix, at most ~330 characters for the composition
  // and 3 more; reserving the common case avoids regrowth inside the loop.
  out.reserve(out.size() + prefixes_.size() + static_cast<std::size_t>(n_) * 16);
  for (std::int32_t i = 0; i < n_; ++i) {
    const auto k = static_cast<std::size_t>(i);
    out.append(prefixes_, start_[k], start_[k + 1] - start_[k]);
    appendFixed(out, level[i], 6);
    out += "\t\r\n";
  }
}

}  // namespace diffusim
