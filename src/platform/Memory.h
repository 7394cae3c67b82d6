#pragma once
// Big scratch buffers. Every fresh page costs a fault, and in a virtual
// machine a fault is dear: buffers of a megabyte and more are mapped so the
// kernel may back them with huge pages, one fault per two megabytes.
#include <cstddef>
#include <cstdint>

namespace tessavar::platform {

class LargeBuffer {
 public:
  LargeBuffer() = default;
  // Uninitialised bytes; an empty buffer when the memory is not there.
  explicit LargeBuffer(size_t size);
  ~LargeBuffer();
  LargeBuffer(LargeBuffer&& other) noexcept;
  LargeBuffer& operator=(LargeBuffer&& other) noexcept;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  uint8_t* get() const { return data_; }
  size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }
  void reset();

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;  // bytes mapped, or 0 when from the heap
};

}  // namespace tessavar::platform
