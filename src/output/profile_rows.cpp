#include "output/profile_rows.hpp"

#include <cstring>

#include "format/number_format.hpp"

namespace diffusim {

namespace {
// Prefixes up to this long are copied with one fixed-size memcpy; the buffer
// carries that much slack at its end so the copy never reads past it.
constexpr std::size_t SHORT_PREFIX = 32;
constexpr std::size_t ROW_END = 3;  // "\t\r\n"
}  // namespace

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
  prefixes_.append(SHORT_PREFIX, '\0');
}

void ProfileRowWriter::appendRows(std::string& out, const double* level) const {
  // Format straight into the string's storage, sized for the longest rows
  // the fast conversion writes (plus copy slack), and trim afterwards.
  const std::size_t prefixBytes = start_[static_cast<std::size_t>(n_)];
  const std::size_t bound =
      prefixBytes + static_cast<std::size_t>(n_) * (FIXED6_MAX_BYTES + ROW_END) + SHORT_PREFIX;
  std::size_t used = out.size();
  out.resize(used + bound);
  char* p = out.data() + used;
  const char* const prefixes = prefixes_.data();
  for (std::int32_t i = 0; i < n_; ++i) {
    const std::size_t from = start_[static_cast<std::size_t>(i)];
    const std::size_t length = start_[static_cast<std::size_t>(i) + 1] - from;
    std::memcpy(p, prefixes + from, length <= SHORT_PREFIX ? SHORT_PREFIX : length);
    p += length;
    char* end = writeFixed6(p, level[i]);
    if (end == nullptr) {
      // A composition beyond 2^64 in magnitude, or not finite: the exact
      // general conversion, then room again for the rows still to come.
      used = static_cast<std::size_t>(p - out.data());
      out.resize(used);
      appendFixed(out, level[i], 6);
      used = out.size();
      out.resize(used + bound);
      end = out.data() + used;
    }
    std::memcpy(end, "\t\r\n", 4);
    p = end + ROW_END;
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace diffusim
