#include "output/spool.hpp"

#include <cstring>
#include <utility>
#include <vector>

namespace diffusim {

Spool::Spool(Spool&& other) noexcept
    : memory_(std::move(other.memory_)),
      file_(std::exchange(other.file_, nullptr)),
      bytes_(other.bytes_),
      failed_(other.failed_) {}

Spool& Spool::operator=(Spool&& other) noexcept {
  if (this != &other) {
    if (file_ != nullptr) std::fclose(file_);
    memory_ = std::move(other.memory_);
    file_ = std::exchange(other.file_, nullptr);
    bytes_ = other.bytes_;
    failed_ = other.failed_;
  }
  return *this;
}

Spool::~Spool() {
  if (file_ != nullptr) std::fclose(file_);
}

void Spool::write(std::string_view bytes) {
  memory_.append(bytes);
  settle();
}

void Spool::settle() {
  if (memory_.size() >= SPOOL_MEMORY_BYTES) spill();
}

void Spool::spill() {
  if (failed_ || memory_.empty()) return;
  if (file_ == nullptr) file_ = std::tmpfile();
  if (file_ == nullptr || std::fwrite(memory_.data(), 1, memory_.size(), file_) != memory_.size()) {
    failed_ = true;
  } else {
    bytes_ += memory_.size();
  }
  memory_.clear();
}

bool Spool::copyTo(ByteSink& sink) {
  if (failed_) return false;
  if (file_ != nullptr) {
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) return false;
    std::vector<char> block(SPOOL_MEMORY_BYTES);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file_)) > 0)
      sink.write(std::string_view(block.data(), got));
    if (std::ferror(file_) != 0) return false;
    std::fclose(file_);
    file_ = nullptr;
  }
  sink.write(memory_);
  std::string().swap(memory_);
  bytes_ = 0;
  return true;
}

bool Spool::rewind() {
  readAt_ = 0;
  if (file_ == nullptr) return !failed_;
  spill();
  return !failed_ && std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0;
}

bool Spool::read(void* out, std::size_t bytes) {
  if (failed_) return false;
  if (file_ != nullptr) return std::fread(out, 1, bytes, file_) == bytes;
  if (memory_.size() - readAt_ < bytes) return false;
  std::memcpy(out, memory_.data() + readAt_, bytes);
  readAt_ += bytes;
  return true;
}

}  // namespace diffusim
