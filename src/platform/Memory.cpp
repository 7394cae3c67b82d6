#include "platform/Memory.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace tessavar::platform {

namespace {
constexpr size_t kHugePage = 2u << 20;
constexpr size_t kMapFrom = 1u << 20;
}  // namespace

LargeBuffer::LargeBuffer(size_t size) : size_(size) {
  if (size >= kMapFrom) {
    const size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      ::madvise(p, length, MADV_HUGEPAGE);  // a hint; without it the pages are small
      data_ = static_cast<uint8_t*>(p);
      mapped_ = length;
      return;
    }
  }
  data_ = new (std::nothrow) uint8_t[size > 0 ? size : 1];
  if (!data_) size_ = 0;
}

LargeBuffer::~LargeBuffer() { reset(); }

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

void LargeBuffer::reset() {
  if (data_) {
    if (mapped_) ::munmap(data_, mapped_);
    else delete[] data_;
  }
  data_ = nullptr;
  size_ = mapped_ = 0;
}

}  // namespace tessavar::platform
