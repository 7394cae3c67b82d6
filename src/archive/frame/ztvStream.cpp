#include "archive/frame/ztvStream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/Application.h"

namespace tessavar {

int64_t TStream32::GetSize() {
  int64_t pos = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

int64_t TStream32::CopyFrom(TStream32& Source, int64_t Count) { return CopyInChunks(Source, Count, 0x20000); }

int64_t TStream32::CopyInChunks(TStream32& Source, int64_t Count, int64_t ChunkSize) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  if (Count <= 0) return 0;
  ActiveProgress = ProgressHandler;
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(Count, std::max<int64_t>(ChunkSize, 1))));
  int64_t copied = 0;
  while (Count > 0 && !IsCancelled()) {
    platform::ProcessMessages();
    if (IsCancelled()) break;
    int64_t n = std::min<int64_t>(Count, static_cast<int64_t>(chunk.size()));
    int64_t got = Source.Read(chunk.data(), n);
    if (got <= 0) break;  // a source shorter than asked ends the copy, not the program
    got = std::min(got, n);
    int64_t put = Write(chunk.data(), got);
    if (put > 0) copied += put;
    if (put != got) break;
    Count -= got;
  }
  return copied;
}

int64_t THandleStream32::GetSize() {
  int64_t s = platform::FileSize(handle_);
  return s < 0 ? 0 : s;
}

void THandleStream32::SetSize(int64_t size) {
  if (platform::FileSeek(handle_, size, platform::SeekOrigin::Begin) < 0 || !platform::FileTruncate(handle_))
    throw std::runtime_error(std::strerror(platform::LastError()));
}

int64_t THandleStream32::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = platform::FileRead(handle_, buffer, count);
  if (n < 0) n = 0;
  if (n > 0 && ReadNotify) {
    if (Remaining) *Remaining -= count;
    ReadNotify(this);
  }
  return n;
}

int64_t THandleStream32::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = platform::FileWrite(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

int64_t THandleStream32::Seek(int64_t offset, TSeekOrigin origin) {
  return platform::FileSeek(handle_, offset, static_cast<platform::SeekOrigin>(origin));
}

namespace {
platform::FileHandle OpenFor(const std::string& name, uint16_t mode) {
  if (mode == fmCreate) return platform::FileOpen(name, platform::OpenMode::Create);
  switch (mode & 3) {
    case fmOpenRead: return platform::FileOpen(name, platform::OpenMode::Read);
    default: return platform::FileOpen(name, platform::OpenMode::ReadWrite);
  }
}
}  // namespace

TFileStream32::TFileStream32(const std::string& fileName, uint16_t mode)
    : THandleStream32(OpenFor(fileName, mode)), fileName_(fileName) {}

TFileStream32::~TFileStream32() { Close(); }

void TFileStream32::Close() {
  if (handle_ != platform::kInvalidHandle) platform::FileClose(handle_);
  handle_ = platform::kInvalidHandle;
}

int64_t TReadCache::ReadAt(int64_t pos, void* buffer, int64_t count) {
  if (!stream_ || pos < 0 || count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t p = pos + done;
    if (p >= start_ && p < start_ + length_) {
      const int64_t n = std::min(count - done, start_ + length_ - p);
      std::memcpy(out + done, cache_.data() + (p - start_), static_cast<size_t>(n));
      done += n;
      continue;
    }
    if (stream_->Seek(p, soFromBeginning) != p) break;
    if (count - done >= window_) {
      // Large pieces go straight through.
      const int64_t n = stream_->Read(out + done, count - done);
      if (n <= 0) break;
      done += n;
      continue;
    }
    cache_.resize(static_cast<size_t>(window_));
    start_ = p;
    length_ = 0;
    const int64_t n = stream_->Read(cache_.data(), window_);
    if (n <= 0) break;
    length_ = n;
  }
  return done;
}

}  // namespace tessavar
