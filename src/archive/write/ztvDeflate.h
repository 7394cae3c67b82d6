#pragma once
// The deflate encoder of the ZIP-family writers: zlib's raw deflate driven
// as a stream (for entries too large to hold in memory), a whole-buffer
// encoder for everything else, and a read-ahead that prepares the next
// entries on worker threads while the frame writes the current one.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/write/ztvStreams.h"

namespace tessavar {

class TZipCommon;

enum TDeflateType : int { dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX };

// zlib's level for a type (-1 is zlib's default, 6); dtDeflateS stores.
int ZlibLevelOf(TDeflateType Type);
// General-purpose bits 1-2 recorded for a deflated entry.
uint16_t DeflateTypeBits(TDeflateType Type);

// Compresses everything written to it into Target as raw deflate.
class TCompressStream : public TCustomStream {
 public:
  TCompressStream(TStream32& Target, TDeflateType Type, int WindowBits);
  // Finishes the stream (the rest of the output reaches Target).
  ~TCompressStream() override;

  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Read(void*, int64_t) override { return -1; }
  // Seek(0, soFromCurrent): the low 32 bits of the input taken so far;
  // anything else -1. Throws ERangeError for an offset outside 32 signed bits.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

  virtual int InitCoder(int WindowBits, TDeflateType Type);
  virtual void Process();
  virtual void Finish();
  int64_t TotalIn() const { return totalIn_; }

 private:
  void FlushBuffer(int64_t count);
  bool coderReady_ = false;
  bool finished_ = false;
  bool ownCancel_ = false;
  int64_t totalIn_ = 0;
};

// Compresses the whole of Source into Target. Unless the entry is
// encrypted (its CRC was computed before), CrcSlot receives the data's
// CRC-32. True unless the run was cancelled.
bool DeflateFile(TStream32& Source, TStream32& Target, const CoderParams& Params, int WindowBits,
                 TStreamEvent Progress, TZipCommon* Component, TDeflateType Type, uint32_t& CrcSlot);

// ---- Whole-buffer entries ----

// Entries up to this size are read and compressed in one piece; larger ones
// stream through TCompressStream.
inline constexpr int64_t kWholeEntryLimit = 64 * 1024 * 1024;
// Below this size a deflated entry that would grow is stored instead.
inline constexpr int64_t kSmallEntryLimit = 257;

// Bytes without the zero fill of a vector: files are read and compressed
// straight into them.
class TByteBuffer {
 public:
  TByteBuffer() = default;
  explicit TByteBuffer(size_t capacity)
      : p_(capacity ? std::make_unique_for_overwrite<uint8_t[]>(capacity) : nullptr), capacity_(capacity) {}
  uint8_t* data() { return p_.get(); }
  const uint8_t* data() const { return p_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  // Within the capacity.
  void resize(size_t n) { size_ = n < capacity_ ? n : capacity_; }

 private:
  std::unique_ptr<uint8_t[]> p_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

// Raw deflate of a buffer at the type's level (libdeflate's levels 1, 6,
// 9); data that does not compress goes into stored blocks.
TByteBuffer DeflateBuffer(const uint8_t* data, size_t size, TDeflateType Type);

// One entry prepared in memory: its data as it goes into the archive
// (before any encryption) and what the header needs.
struct TPreparedEntry {
  bool Ok = false;          // the file could be opened and read
  bool Deflated = false;    // false: Data is the file itself (stored)
  uint32_t Crc = 0;         // CRC-32 of the file's bytes
  int64_t SourceSize = 0;   // bytes read from the file
  TByteBuffer Data;
};

// Reads the file and prepares it: stored, or deflated by the small-file rule
// (below kSmallEntryLimit a deflated result longer than the file is stored).
TPreparedEntry PrepareEntry(const std::string& Path, bool Deflate, TDeflateType Type);

// Prepares queued entries on worker threads, in queue order, keeping at most
// a memory budget of prepared bytes that the frame has not taken yet. The
// frame takes each result in its own order; the bytes are the same as those
// PrepareEntry gives on the frame's thread.
class TDeflateAhead {
 public:
  TDeflateAhead(int Workers, int64_t Budget);
  ~TDeflateAhead();
  TDeflateAhead(const TDeflateAhead&) = delete;
  TDeflateAhead& operator=(const TDeflateAhead&) = delete;

  void Queue(int Key, const std::string& Path, int64_t Size, bool Deflate, TDeflateType Type);
  // Starts the workers once everything is queued.
  void Start();
  // The prepared entry of Key (waiting for it), or nullptr when Key was not
  // queued or its preparation does not fit (Deflate or Type differ).
  std::unique_ptr<TPreparedEntry> Take(int Key, bool Deflate, TDeflateType Type);
  // Stops the workers; later Takes give nullptr.
  void Stop();

 private:
  struct Job {
    int Key;
    std::string Path;
    int64_t Size;
    bool Deflate;
    TDeflateType Type;
    bool Done = false;
    bool Taken = false;
    std::unique_ptr<TPreparedEntry> Result;
  };
  void Work();

  int workers_;
  int64_t budget_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::map<int, size_t> byKey_;
  size_t next_ = 0;        // the next job a worker starts
  int64_t inFlight_ = 0;   // bytes of jobs started and not taken
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tessavar
