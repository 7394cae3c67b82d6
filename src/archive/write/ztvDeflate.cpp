#include "archive/write/ztvDeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/frame/ztvBase.h"
#include "archive/zip/ztvCrypt.h"
#include "platform/File.h"

namespace tessavar {

int ZlibLevelOf(TDeflateType Type) {
  switch (Type) {
    case dtDeflateS: return 0;
    case dtDeflateF: return 1;
    case dtDeflateN: return Z_DEFAULT_COMPRESSION;
    case dtDeflateX: return 9;
  }
  return Z_DEFAULT_COMPRESSION;
}

uint16_t DeflateTypeBits(TDeflateType Type) {
  switch (Type) {
    case dtDeflateS: return 6;
    case dtDeflateF: return 4;
    case dtDeflateN: return 0;
    case dtDeflateX: return 2;
  }
  return 0;
}

// ---------------------------------------------------------------- stream

TCompressStream::TCompressStream(TStream32& Target, TDeflateType Type, int WindowBits) : TCustomStream(Target) {
  CancelFlag = &ownCancel_;
  rec_.Crc = 0xFFFFFFFFu;
  rec_.Z.next_out = buffer_.data();
  rec_.Z.avail_out = static_cast<uInt>(kBufferSize);
  InitCoder(WindowBits, Type);
}

TCompressStream::~TCompressStream() {
  rec_.Z.next_in = nullptr;
  rec_.Z.avail_in = 0;
  try {
    Finish();
  } catch (...) {
    // A failing target has been reported by whoever wrote to it.
  }
  if (coderReady_) deflateEnd(&rec_.Z);
  coderReady_ = false;
}

int TCompressStream::InitCoder(int WindowBits, TDeflateType Type) {
  const int level = Type == dtDeflateS ? 0 : ZlibLevelOf(Type);
  const int r = deflateInit2(&rec_.Z, level, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY);
  coderReady_ = r == Z_OK;
  return r;
}

void TCompressStream::FlushBuffer(int64_t count) {
  if (count <= 0) return;
  if (rec_.Cipher == kCipherZipV2) {
    if (rec_.Keys == nullptr) return;  // never plain data in place of enciphered
    EncipherBuffer(*rec_.Keys, buffer_.data(), static_cast<size_t>(count));
  }
  strm_.Write(buffer_.data(), count);
  streamPos_ = strm_.Position();
}

int64_t TCompressStream::Write(const void* buffer, int64_t count) {
  if (buffer == nullptr || count <= 0 || !coderReady_ || finished_) return 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  // zlib counts in 32 bits; larger writes go in pieces.
  int64_t left = count;
  while (left > 0) {
    const int64_t piece = std::min<int64_t>(left, int64_t{1} << 30);
    rec_.Z.next_in = const_cast<Bytef*>(p);
    rec_.Z.avail_in = static_cast<uInt>(piece);
    SyncUnderlying();
    const uInt before = rec_.Z.avail_in;
    if (rec_.Cipher == 0) rec_.Crc = Crc32Update(p, static_cast<size_t>(piece), rec_.Crc);
    Process();
    totalIn_ += before - rec_.Z.avail_in;
    if (rec_.Z.avail_in != 0) break;  // cancelled or zlib failed
    p += piece;
    left -= piece;
  }
  return count;
}

void TCompressStream::Process() {
  z_stream& z = rec_.Z;
  while (z.avail_in > 0 && !IsCancelled()) {
    if (Remaining) *Remaining -= z.avail_in;
    const int r = deflate(&z, Z_NO_FLUSH);
    if (z.avail_out == 0) {
      if (Remaining) *Remaining += z.avail_in;
      FlushBuffer(kBufferSize);
      z.next_out = buffer_.data();
      z.avail_out = static_cast<uInt>(kBufferSize);
    }
    DoProgress(this);
    if (r != Z_OK && r != Z_BUF_ERROR) break;
    if (z.avail_out != 0 && z.avail_in != 0 && r == Z_BUF_ERROR) break;
  }
}

void TCompressStream::Finish() {
  if (finished_ || !coderReady_) return;
  finished_ = true;
  z_stream& z = rec_.Z;
  SyncUnderlying();
  for (;;) {
    const int r = IsCancelled() ? Z_STREAM_ERROR : deflate(&z, Z_FINISH);
    const int64_t used = kBufferSize - z.avail_out;
    if (r == Z_STREAM_END || z.avail_out != 0 || IsCancelled()) {
      FlushBuffer(used);
      break;
    }
    if (r < 0 && r != Z_BUF_ERROR) break;
    FlushBuffer(used);
    z.next_out = buffer_.data();
    z.avail_out = static_cast<uInt>(kBufferSize);
  }
  deflateEnd(&z);
  coderReady_ = false;
}

int64_t TCompressStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset < std::numeric_limits<int32_t>::min() || offset > std::numeric_limits<int32_t>::max())
    throw ERangeError();
  if (offset == 0 && origin == soFromCurrent) return static_cast<uint32_t>(totalIn_);
  return -1;
}

bool DeflateFile(TStream32& Source, TStream32& Target, const CoderParams& Params, int WindowBits,
                 TStreamEvent Progress, TZipCommon* Component, TDeflateType Type, uint32_t& CrcSlot) {
  bool* cancel = Component ? Component->CancelFlag() : Params.CancelFlag;
  {
    TCompressStream z(Target, Type, WindowBits);
    const uint32_t seed = 0xFFFFFFFFu;
    z.ApplyParams(Params);
    if (z.Cipher() == 0) {
      CoderParams p = Params;
      p.Crc = seed;
      z.ApplyParams(p);
    }
    z.CancelFlag = cancel;
    z.ProgressHandler = Progress;
    z.ActiveProgress = Progress;
    Source.CancelFlag = cancel;
    z.CopyFrom(Source, 0);
    if (z.Cipher() == 0) {
      CrcSlot = z.Crc() ^ 0xFFFFFFFFu;
      if (z.TotalIn() == 0 && CrcSlot == 0xFFFFFFFFu) CrcSlot = 0;
    }
  }
  return !(cancel && *cancel);
}

// ---------------------------------------------------------------- whole buffers

namespace {

int LibdeflateLevel(TDeflateType Type) {
  switch (Type) {
    case dtDeflateF: return 1;
    case dtDeflateX: return 9;
    default: return 6;
  }
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Data that fast deflate cannot shrink at three places (already compressed
// media, archives, noise) goes out as stored deflate blocks: the same size
// deflate would reach, without searching it for matches that are not there.
constexpr size_t kProbe = 16384;
constexpr int64_t kProbeFrom = 4 * static_cast<int64_t>(kProbe);

bool LooksIncompressible(const uint8_t* data, size_t size) {
  if (static_cast<int64_t>(size) < kProbeFrom) return false;
  thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> fast;
  if (!fast) fast.reset(libdeflate_alloc_compressor(1));
  thread_local TByteBuffer out(libdeflate_deflate_compress_bound(fast.get(), kProbe));
  for (size_t at : {size_t{0}, size / 2 - kProbe / 2, size - kProbe}) {
    const size_t n = libdeflate_deflate_compress(fast.get(), data + at, kProbe, out.data(), out.capacity());
    if (n != 0 && n < kProbe - kProbe / 64) return false;
  }
  return true;
}

TByteBuffer StoredBlocks(const uint8_t* data, size_t size) {
  TByteBuffer out(size + (size / 65535 + 1) * 5);
  uint8_t* p = out.data();
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(size - at, 65535);
    const bool last = at + n == size;
    const uint8_t head[5] = {static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                             static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)};
    std::memcpy(p, head, 5);
    std::memcpy(p + 5, data + at, n);
    p += 5 + n;
    at += n;
  } while (at < size);
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

}  // namespace

TByteBuffer DeflateBuffer(const uint8_t* data, size_t size, TDeflateType Type) {
  // One compressor per thread and level: making one costs more than a small file.
  thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressors[3];
  const int slot = Type == dtDeflateF ? 0 : Type == dtDeflateX ? 2 : 1;
  if (LooksIncompressible(data, size)) return StoredBlocks(data, size);
  auto& c = compressors[slot];
  if (!c) c.reset(libdeflate_alloc_compressor(LibdeflateLevel(Type)));
  TByteBuffer out(libdeflate_deflate_compress_bound(c.get(), size));
  const size_t n = libdeflate_deflate_compress(c.get(), size ? data : nullptr, size, out.data(), out.capacity());
  out.resize(n);
  return out;
}

TPreparedEntry PrepareEntry(const std::string& Path, bool Deflate, TDeflateType Type) {
  TPreparedEntry e;
  platform::FileHandle h = platform::FileOpen(Path, platform::OpenMode::Read);
  if (h == platform::kInvalidHandle) return e;
  const int64_t size = std::min(std::max<int64_t>(platform::FileSize(h), 0), kWholeEntryLimit);
  // The file is read into a buffer the thread keeps, so the pages are not
  // handed out by the system afresh for every file; large ones are let go.
  thread_local TByteBuffer input;
  constexpr size_t kKeep = 8 * 1024 * 1024;
  if (input.capacity() < static_cast<size_t>(size)) input = TByteBuffer(std::max<size_t>(static_cast<size_t>(size), 1 << 20));
  int64_t got = 0;
  while (got < size) {
    const int64_t n = platform::FileRead(h, input.data() + got, size - got);
    if (n <= 0) break;
    got += n;
  }
  platform::FileClose(h);
  e.Ok = true;
  e.SourceSize = got;
  e.Crc = static_cast<uint32_t>(libdeflate_crc32(0, input.data(), static_cast<size_t>(got)));
  bool done = false;
  if (Deflate && got > 0) {
    TByteBuffer packed = DeflateBuffer(input.data(), static_cast<size_t>(got), Type);
    if (got >= kSmallEntryLimit || static_cast<int64_t>(packed.size()) <= got) {
      e.Deflated = true;
      e.Data = std::move(packed);
      done = true;
    }
  }
  if (!done) {
    e.Data = TByteBuffer(static_cast<size_t>(got));
    if (got > 0) std::memcpy(e.Data.data(), input.data(), static_cast<size_t>(got));
    e.Data.resize(static_cast<size_t>(got));
  }
  if (input.capacity() > kKeep) input = TByteBuffer();
  return e;
}

// ---------------------------------------------------------------- read-ahead

TDeflateAhead::TDeflateAhead(int Workers, int64_t Budget) : workers_(std::max(Workers, 1)), budget_(Budget) {}

TDeflateAhead::~TDeflateAhead() { Stop(); }

void TDeflateAhead::Queue(int Key, const std::string& Path, int64_t Size, bool Deflate, TDeflateType Type) {
  std::lock_guard<std::mutex> lock(mutex_);
  byKey_[Key] = jobs_.size();
  Job job{Key, Path, Size, Deflate, Type, false, false, nullptr};
  jobs_.push_back(std::move(job));
}

void TDeflateAhead::Start() {
  if (!threads_.empty() || jobs_.empty()) return;
  for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Work(); });
}

void TDeflateAhead::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Entries start in queue order; a start waits for memory unless nothing
    // else is held, so the entry the frame waits for can always start.
    changed_.wait(lock, [this] {
      return stop_ || next_ >= jobs_.size() || inFlight_ == 0 || inFlight_ + jobs_[next_].Size <= budget_;
    });
    if (stop_ || next_ >= jobs_.size()) return;
    Job& job = jobs_[next_++];
    if (job.Taken) continue;
    inFlight_ += job.Size;
    const std::string path = job.Path;
    const bool deflate = job.Deflate;
    const TDeflateType type = job.Type;
    lock.unlock();
    auto result = std::make_unique<TPreparedEntry>(PrepareEntry(path, deflate, type));
    lock.lock();
    job.Result = std::move(result);
    job.Done = true;
    if (job.Taken) {
      // The frame went past it meanwhile.
      inFlight_ -= job.Size;
      job.Result.reset();
    }
    changed_.notify_all();
  }
}

std::unique_ptr<TPreparedEntry> TDeflateAhead::Take(int Key, bool Deflate, TDeflateType Type) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto it = byKey_.find(Key);
  if (it == byKey_.end() || threads_.empty()) return nullptr;
  const size_t index = it->second;
  // The frame takes entries in order: whatever lies before is not wanted.
  for (size_t i = 0; i <= index; ++i) {
    Job& j = jobs_[i];
    if (j.Taken) continue;
    if (i == index) break;
    j.Taken = true;
    if (j.Done) {
      inFlight_ -= j.Size;
      j.Result.reset();
    }
  }
  Job& job = jobs_[index];
  if (job.Taken) return nullptr;
  changed_.notify_all();
  changed_.wait(lock, [&] { return stop_ || job.Done; });
  job.Taken = true;
  if (!job.Done) return nullptr;
  inFlight_ -= job.Size;
  changed_.notify_all();
  if (job.Deflate != Deflate || job.Type != Type) return nullptr;
  return std::move(job.Result);
}

void TDeflateAhead::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& t : threads_) t.join();
  threads_.clear();
}

}  // namespace tessavar
