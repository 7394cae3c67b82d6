#pragma once
// Whole-entry inflation in memory, and workers that inflate the coming
// entries of a single archive on every core while the component writes the
// current one. The component stays the only one to raise events, in entry
// order: a worker only turns stored bytes into plain bytes and their check
// value, and the component uses a result only when its own reading of the
// entry agrees.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/zip/ztvZipRecords.h"
#include "platform/Memory.h"

namespace tessavar {

struct TUnBaseHeaderObj;
class TReadCache;

// Entries up to this size are inflated whole in memory, which is about twice
// as fast as the streaming inflater; larger ones stream with a bounded window.
inline constexpr int64_t kWholeEntryLimit = 64 << 20;

// One entry inflated in memory.
struct TWholeEntry {
  platform::LargeBuffer packed, plain;
  size_t packedLen = 0;     // stored bytes actually read
  size_t actual = 0;        // plain bytes produced
  bool decoded = false;     // the stream decoded (possibly short of its size)
  bool complete = false;    // decoded to exactly the entry's size
  uint32_t crc = 0;         // CRC-32 of the `actual` plain bytes
  int64_t dataPos = 0, compressed = 0, uncompressed = 0;

  // Grows the buffers to at least these sizes (the component's own entry,
  // reused from one entry to the next).
  void Reserve(size_t packedSize, size_t plainSize);
  size_t Held() const { return packed.size() + plain.size(); }
  // Inflates packed[0, packedLen) into plain and takes the check value.
  void Inflate();
};

// The sizes an extraction uses for an entry: the local zip64 words when the
// local header has them, else the central ones.
void EntrySizes(const TUnBaseHeaderObj& item, const TSizeHighWords& localHigh, int64_t& compressed,
                int64_t& uncompressed);

class TInflateAhead {
 public:
  // Only plain deflated entries of at most kWholeEntryLimit bytes are taken;
  // `list` must outlive the workers.
  TInflateAhead(const std::string& archivePath, const std::vector<TUnBaseHeaderObj>& list, int threads);
  ~TInflateAhead();
  TInflateAhead(const TInflateAhead&) = delete;
  TInflateAhead& operator=(const TInflateAhead&) = delete;

  // Entry `entry` of the list inflated, or null when no worker took it.
  // Waits for the workers when they have not got that far; results for
  // earlier entries that nobody asked for are dropped.
  std::unique_ptr<TWholeEntry> Take(size_t entry);
  void Recycle(std::unique_ptr<TWholeEntry> entry);

  // Whether an entry is one the workers take.
  static bool Eligible(const TUnBaseHeaderObj& item);
  bool Covers(size_t index) const { return index < slotOf_.size() && slotOf_[index] >= 0; }

 private:
  void Run();
  std::unique_ptr<TWholeEntry> InflateOne(TReadCache& headers, const TUnBaseHeaderObj& item);
  void Finish(size_t batch, std::vector<std::pair<size_t, std::unique_ptr<TWholeEntry>>>& results);
  size_t BatchOf(size_t slot) const;
  void WakeWorkers();  // with the mutex held
  // The buffer pool; called with the mutex held.
  platform::LargeBuffer Fit(size_t want);
  void Release(TWholeEntry& entry);
  void Keep(platform::LargeBuffer buffer);

  std::string path_;
  const std::vector<TUnBaseHeaderObj>& list_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<size_t, std::unique_ptr<TWholeEntry>> ready_;
  std::multimap<size_t, platform::LargeBuffer> spares_;  // by capacity
  size_t spareBytes_ = 0;
  std::vector<size_t> slots_;     // the entries the workers take, in order
  std::vector<int32_t> slotOf_;  // per entry: its place in slots_, or -1
  std::vector<size_t> batches_;   // first slot of each batch, and the end
  std::vector<uint8_t> done_;     // per batch: a worker finished with it
  size_t nextBatch_ = 0;          // the next batch a worker claims
  size_t wanted_ = 0;            // the slot the component asked for last
  int64_t queuedBytes_ = 0;      // memory held by results not yet taken
  bool stop_ = false;
  bool mainWaits_ = false;        // the component waits for a batch
  std::multiset<size_t> waitingFirsts_;  // first slots of the batches of workers waiting for memory
  std::vector<std::thread> threads_;
};

}  // namespace tessavar
