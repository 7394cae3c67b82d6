#include "archive/zip/ztvInflateAhead.h"

#include <libdeflate.h>

#include <algorithm>
#include <bit>

#include "archive/frame/ztvStream.h"
#include "archive/zip/ztvUnZip.h"

namespace tessavar {

namespace {

// Results waiting for the component may hold this much memory; one entry
// larger than that still goes through alone.
constexpr int64_t kAheadBudget = 32 << 20;
// Small entries go to the workers in batches of about this many plain bytes
// (or this many entries), so handing them over costs little next to
// inflating them.
constexpr int64_t kBatchBytes = 256 << 10;
constexpr size_t kBatchEntries = 64;
// Buffers up to this size come from the heap; bigger ones from the pool.
constexpr size_t kPooledFrom = 4 << 10;
// The workers run at most this many entries ahead of the component. Every
// fresh page costs a fault, so buffers go back to a pool and each entry gets
// the smallest one that fits; big buffers stay for big entries.
constexpr size_t kMaxQueued = 4 * kBatchEntries;
constexpr size_t kSpareBuffers = 2 * kMaxQueued + 16;
constexpr size_t kSpareBytes = 64 << 20;

libdeflate_decompressor* ThreadDecompressor() {
  struct Holder {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Holder() {
      if (d) libdeflate_free_decompressor(d);
    }
  };
  thread_local Holder holder;
  return holder.d;
}

}  // namespace

void TWholeEntry::Reserve(size_t packedSize, size_t plainSize) {
  // Powers of two, so a buffer that serves entries of growing sizes is
  // replaced only a few times.
  auto grow = [](platform::LargeBuffer& buffer, size_t want) {
    if (buffer && buffer.size() >= want) return;
    buffer = platform::LargeBuffer(std::bit_ceil(std::max<size_t>(want, 4096)));
  };
  grow(packed, packedSize);
  grow(plain, plainSize);
}

void TWholeEntry::Inflate() {
  decoded = complete = false;
  actual = 0;
  crc = 0;
  libdeflate_decompressor* d = ThreadDecompressor();
  if (!d || uncompressed < 0) return;
  const libdeflate_result r = libdeflate_deflate_decompress(d, packed.get(), packedLen, plain.get(),
                                                            static_cast<size_t>(uncompressed), &actual);
  if (r != LIBDEFLATE_SUCCESS && r != LIBDEFLATE_SHORT_OUTPUT) {
    actual = 0;
    return;
  }
  decoded = true;
  complete = r == LIBDEFLATE_SUCCESS && static_cast<int64_t>(actual) == uncompressed;
  crc = Crc32Update(plain.get(), actual, 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

void EntrySizes(const TUnBaseHeaderObj& item, const TSizeHighWords& localHigh, int64_t& compressed,
                int64_t& uncompressed) {
  compressed = Size64(item.Central.CompressedSize,
                      localHigh.CompressedHigh ? localHigh.CompressedHigh : item.CentralHigh.CompressedHigh);
  uncompressed = Size64(item.Central.UncompressedSize,
                        localHigh.UncompressedHigh ? localHigh.UncompressedHigh : item.CentralHigh.UncompressedHigh);
}

bool TInflateAhead::Eligible(const TUnBaseHeaderObj& item) {
  if (!item.HaveCentral || item.Central.Method != 8 || (item.Central.GeneralPurpose & 1)) return false;
  if ((item.ExternalAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  const TSizeHighWords none;
  int64_t compressed = 0, uncompressed = 0;
  EntrySizes(item, none, compressed, uncompressed);
  return compressed <= kWholeEntryLimit && uncompressed <= kWholeEntryLimit && item.CentralHigh.CompressedHigh == 0 &&
         item.CentralHigh.UncompressedHigh == 0;
}

TInflateAhead::TInflateAhead(const std::string& archivePath, const std::vector<TUnBaseHeaderObj>& list, int threads)
    : path_(archivePath), list_(list), slotOf_(list.size(), -1) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (!Eligible(list[i]) || slots_.size() >= static_cast<size_t>(INT32_MAX)) continue;
    slotOf_[i] = static_cast<int32_t>(slots_.size());
    slots_.push_back(i);
  }
  int64_t bytes = 0;
  for (size_t k = 0; k < slots_.size(); ++k) {
    if (batches_.empty() || bytes >= kBatchBytes || k - batches_.back() >= kBatchEntries) {
      batches_.push_back(k);
      bytes = 0;
    }
    bytes += static_cast<int64_t>(list[slots_[k]].Central.UncompressedSize) + 1;
  }
  done_.assign(batches_.size(), 0);
  batches_.push_back(slots_.size());
  for (int i = 0; i < std::max(threads, 1); ++i) threads_.emplace_back([this] { Run(); });
}

TInflateAhead::~TInflateAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

// Takes the mutex's protection for granted unless `want` is at most
// kPooledFrom, which never touches the pool.
platform::LargeBuffer TInflateAhead::Fit(size_t want) {
  want = std::max<size_t>(want, 1);
  if (want <= kPooledFrom) return platform::LargeBuffer(want);
  auto best = spares_.lower_bound(want);
  if (best != spares_.end()) {
    platform::LargeBuffer buffer = std::move(best->second);
    spareBytes_ -= buffer.size();
    spares_.erase(best);
    return buffer;
  }
  // Powers of two (whole megabytes above one), so that buffers fit the
  // entries that come later.
  constexpr size_t kMiB = 1 << 20;
  return platform::LargeBuffer(want <= kMiB ? std::bit_ceil(want) : (want + kMiB - 1) / kMiB * kMiB);
}

void TInflateAhead::Keep(platform::LargeBuffer buffer) {
  const size_t size = buffer.size();
  spareBytes_ += size;
  spares_.emplace(size, std::move(buffer));
  // Over the limits, the smallest spares go first, and the largest when the
  // bytes are too many.
  while (spares_.size() > kSpareBuffers) {
    spareBytes_ -= spares_.begin()->first;
    spares_.erase(spares_.begin());
  }
  while (spareBytes_ > kSpareBytes && !spares_.empty()) {
    auto largest = std::prev(spares_.end());
    spareBytes_ -= largest->first;
    spares_.erase(largest);
  }
}

void TInflateAhead::Recycle(std::unique_ptr<TWholeEntry> entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Release(*entry);
}

void TInflateAhead::Release(TWholeEntry& entry) {
  // Small buffers go back to the heap.
  if (entry.packed.size() > kPooledFrom) Keep(std::move(entry.packed));
  if (entry.plain.size() > kPooledFrom) Keep(std::move(entry.plain));
  entry.packed.reset();
  entry.plain.reset();
}

std::unique_ptr<TWholeEntry> TInflateAhead::Take(size_t entry) {
  if (!Covers(entry)) return nullptr;
  const size_t index = static_cast<size_t>(slotOf_[entry]);
  std::unique_lock<std::mutex> lock(mutex_);
  wanted_ = index;
  // Results the component passed by are dropped first: a worker may be
  // waiting for the memory they hold.
  while (!ready_.empty() && ready_.begin()->first < index) {
    auto& e = ready_.begin()->second;
    queuedBytes_ -= static_cast<int64_t>(e->Held());
    Release(*e);
    ready_.erase(ready_.begin());
  }
  WakeWorkers();
  const size_t batch = BatchOf(index);
  if (!done_[batch] && !stop_) {
    mainWaits_ = true;
    changed_.wait(lock, [&] { return done_[batch] || stop_; });
    mainWaits_ = false;
  }
  std::unique_ptr<TWholeEntry> found;
  auto it = ready_.find(index);
  if (it != ready_.end()) {
    found = std::move(it->second);
    queuedBytes_ -= static_cast<int64_t>(found->Held());
    ready_.erase(it);
  }
  WakeWorkers();
  return found;
}

void TInflateAhead::WakeWorkers() {
  // Waking a worker for every entry taken would cost more than inflating
  // small entries: they are woken when the queue is half empty, or when
  // one of them holds the batch the component waits for.
  if (waitingFirsts_.empty()) return;
  if (*waitingFirsts_.begin() <= wanted_ || (ready_.size() <= kMaxQueued / 2 && queuedBytes_ <= kAheadBudget / 2))
    changed_.notify_all();
}

size_t TInflateAhead::BatchOf(size_t slot) const {
  return static_cast<size_t>(std::upper_bound(batches_.begin(), batches_.end(), slot) - batches_.begin()) - 1;
}

void TInflateAhead::Finish(size_t batch, std::vector<std::pair<size_t, std::unique_ptr<TWholeEntry>>>& results) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [slot, entry] : results) {
      queuedBytes_ += static_cast<int64_t>(entry->Held());
      ready_.emplace(slot, std::move(entry));
    }
    done_[batch] = 1;
    wake = mainWaits_;
  }
  results.clear();
  if (wake) changed_.notify_all();
}

void TInflateAhead::Run() {
  TFileStream32 file(path_, fmOpenRead);
  TReadCache headers;
  headers.Reset(file.Valid() ? &file : nullptr);
  std::vector<std::pair<size_t, std::unique_ptr<TWholeEntry>>> results;
  for (;;) {
    size_t batch = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || nextBatch_ + 1 >= batches_.size()) return;
      batch = nextBatch_++;
    }
    const size_t first = batches_[batch], end = batches_[batch + 1];
    int64_t need = 0;
    for (size_t k = first; k < end; ++k)
      need += static_cast<int64_t>(list_[slots_[k]].Central.CompressedSize) + list_[slots_[k]].Central.UncompressedSize + 2;
    {
      // Stay within the memory budget, except for the batch of the entry the
      // component waits for, which always goes ahead.
      std::unique_lock<std::mutex> lock(mutex_);
      auto mayGo = [&] {
        return stop_ || first <= wanted_ || ready_.empty() ||
               (queuedBytes_ + need <= kAheadBudget && ready_.size() + (end - first) <= kMaxQueued);
      };
      while (!mayGo()) {
        const auto mine = waitingFirsts_.insert(first);
        changed_.wait(lock);
        waitingFirsts_.erase(mine);
      }
      if (stop_) return;
    }
    for (size_t k = first; k < end && file.Valid(); ++k) {
      if (auto e = InflateOne(headers, list_[slots_[k]])) results.emplace_back(k, std::move(e));
    }
    Finish(batch, results);
  }
}

std::unique_ptr<TWholeEntry> TInflateAhead::InflateOne(TReadCache& headers, const TUnBaseHeaderObj& item) {
  uint8_t rec[TLocalFileHeader::kSize];
  if (headers.ReadAt(item.LocalPosition, rec, sizeof rec) != sizeof rec) return nullptr;
  const TSignatureClass sig = ClassifySignature(GetU32(rec), htLocal);
  if (sig.kind != htLocal || sig.encrypted) return nullptr;
  TLocalFileHeader local = TLocalFileHeader::Parse(rec);
  std::vector<uint8_t> extra(local.ExtraFieldLength);
  extra.resize(static_cast<size_t>(
      headers.ReadAt(item.LocalPosition + 30 + local.FileNameLength, extra.data(), local.ExtraFieldLength)));
  TSizeHighWords localHigh;
  ReadExtraField(extra.data(), extra.size(), local, localHigh, nullptr);
  int64_t compressed = 0, uncompressed = 0;
  EntrySizes(item, localHigh, compressed, uncompressed);
  if (compressed < 0 || uncompressed < 0 || compressed > kWholeEntryLimit || uncompressed > kWholeEntryLimit)
    return nullptr;
  auto e = std::make_unique<TWholeEntry>();
  if (static_cast<size_t>(std::max(compressed, uncompressed)) <= kPooledFrom) {
    // Small buffers come from the heap, without the lock.
    e->packed = Fit(static_cast<size_t>(compressed));
    e->plain = Fit(static_cast<size_t>(uncompressed));
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    e->packed = Fit(static_cast<size_t>(compressed));
    e->plain = Fit(static_cast<size_t>(uncompressed));
  }
  if (!e->packed || !e->plain) return nullptr;  // no memory: the component inflates it itself
  e->dataPos = item.LocalPosition + 30 + local.FileNameLength + local.ExtraFieldLength;
  e->compressed = compressed;
  e->uncompressed = uncompressed;
  e->packedLen = static_cast<size_t>(std::max<int64_t>(headers.ReadAt(e->dataPos, e->packed.get(), compressed), 0));
  e->Inflate();
  return e;
}

}  // namespace tessavar
