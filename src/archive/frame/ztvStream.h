#pragma once
// The root of the stream family every component moves its bytes through:
// a cancel flag each copy loop watches, progress driven by the operation's
// count of bytes still to process, and file streams whose failed open leaves
// an invalid handle instead of throwing. The per-entry, memory and temporary
// streams build on these.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/frame/ztvComponent.h"
#include "platform/File.h"

namespace tessavar {

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// Open modes of TFileStream32: create, or access plus sharing as the
// components use them (sharing has no meaning on this platform).
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;  // mode 32: archives, temporary files
inline constexpr uint16_t fmShareDenyNone = 0x0040;   // mode 64: source files of a compress run

// A memory stream that cannot grow ("Out of memory while expanding memory
// stream"), and other failures of the stream family that end a transfer.
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const std::string& message) : std::runtime_error(message) {}
};

// An offset that a 32-bit stream position cannot hold ("Range check error").
class ERangeError : public std::runtime_error {
 public:
  ERangeError() : std::runtime_error("Range check error") {}
};

class TStream32;
using TStreamEvent = std::function<void(TStream32* Sender)>;
// The owning component's steps a temporary archive calls when it is finished:
// put it in place (true when the archive was replaced), the event before
// (which may cancel the replacement) and the event after.
using TMoveHandler = std::function<bool(TStream32* TempStream, const std::string& Destination, bool SameDrive,
                                        const std::string& TempName)>;
using TMoveBeginHandler =
    std::function<void(const std::string& Archive, const std::string& TempFileName, bool& Cancel)>;
using TMoveEndHandler = std::function<void()>;

class TStream32 : public TObject {
 public:
  TStream32() = default;
  TStream32(const TStream32&) = delete;
  TStream32& operator=(const TStream32&) = delete;

  virtual int64_t GetSize();
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Copies Count bytes (0: the whole source, from its start) in chunks of at
  // most 128 KiB, stopping when the cancel flag is set. Returns bytes written.
  virtual int64_t CopyFrom(TStream32& Source, int64_t Count);

  int64_t Size() { return GetSize(); }
  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t p) { Seek(p, soFromBeginning); }
  // Reads exactly count bytes or reports false.
  bool ReadExact(void* buffer, int64_t count) { return count <= 0 || Read(buffer, count) == count; }

  TStreamEvent ProgressHandler;
  TStreamEvent ActiveProgress;
  TStreamEvent ReadNotify;
  bool* CancelFlag = nullptr;
  int64_t* Remaining = nullptr;
  TMoveHandler MoveHandler;
  TMoveBeginHandler MoveBeginHandler;
  TMoveEndHandler MoveEndHandler;

  void DoProgress(TStream32* Sender) {
    if (Sender && Sender->ActiveProgress) Sender->ActiveProgress(Sender);
  }

 protected:
  bool IsCancelled() const { return CancelFlag && *CancelFlag; }
  // CopyFrom with its own chunk size (the temporary streams use 100000).
  int64_t CopyInChunks(TStream32& Source, int64_t Count, int64_t ChunkSize);
};

// A stream over an open file handle (not owned).
class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(platform::FileHandle handle) : handle_(handle) {}
  platform::FileHandle Handle() const { return handle_; }
  bool Valid() const { return handle_ != platform::kInvalidHandle; }

  int64_t GetSize() override;
  // Throws std::runtime_error with the system's text when the file cannot be cut.
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 protected:
  platform::FileHandle handle_;
};

// A file stream that owns its handle. A failed open leaves Handle() invalid;
// callers test it and report "Error opening file" themselves.
class TFileStream32 : public THandleStream32 {
 public:
  TFileStream32(const std::string& fileName, uint16_t mode);
  // Takes over a handle opened elsewhere (a new temporary file, say).
  struct Adopt {};
  TFileStream32(Adopt, platform::FileHandle handle, const std::string& fileName)
      : THandleStream32(handle), fileName_(fileName) {}
  ~TFileStream32() override;
  const std::string& FileName() const { return fileName_; }
  // Closes the handle early (the destructor then does nothing).
  void Close();

 private:
  std::string fileName_;
};

// A read-ahead window over a stream for reading many small records (headers,
// names, extra fields) with few system calls. Reset it whenever the stream is
// replaced or written.
class TReadCache {
 public:
  explicit TReadCache(int64_t windowSize = 256 * 1024) : window_(windowSize) {}
  void Reset(TStream32* stream) {
    stream_ = stream;
    start_ = length_ = 0;
  }
  // Bytes read at an absolute position (0 at the end or on error).
  int64_t ReadAt(int64_t pos, void* buffer, int64_t count);

 private:
  TStream32* stream_ = nullptr;
  std::vector<uint8_t> cache_;
  int64_t window_;
  int64_t start_ = 0;
  int64_t length_ = 0;
};

// Reading a stretch of a stream through its read-ahead window, as a stream of
// its own: small entries then cost no system call of their own.
class TCachedReader : public TStream32 {
 public:
  TCachedReader(TReadCache& cache, int64_t position) : cache_(cache), pos_(position) {}
  void SetSize(int64_t) override {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = cache_.ReadAt(pos_, buffer, count);
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (origin == soFromBeginning) pos_ = offset;
    else if (origin == soFromCurrent) pos_ += offset;
    return pos_;
  }

 private:
  TReadCache& cache_;
  int64_t pos_;
};

}  // namespace tessavar
