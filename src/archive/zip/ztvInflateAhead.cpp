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
constexpr int64_t kAheadBudget = 96 << 20;
// Below this many plain bytes an entry is inflated where it is needed.
constexpr int64_t kAheadMinimum = 32 << 10;
// The workers run at most this many entries ahead of the component. Every
// fresh page costs a fault, so buffers go back to a pool and each entry gets
// the smallest one that fits; big buffers stay for big entries.
constexpr size_t kMaxQueued = 4;
constexpr size_t kSpareBuffers = 2 * (kMaxQueued + 4);

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
  auto grow = [](std::unique_ptr<uint8_t[]>& buffer, size_t& cap, size_t want) {
    if (cap >= want && buffer) return;
    const size_t size = std::bit_ceil(std::max<size_t>(want, 4096));
    buffer = std::make_unique_for_overwrite<uint8_t[]>(size);
    cap = size;
  };
  grow(packed, packedCap, packedSize);
  grow(plain, plainCap, plainSize);
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
  return compressed <= kWholeEntryLimit && uncompressed <= kWholeEntryLimit && uncompressed >= kAheadMinimum &&
         item.CentralHigh.CompressedHigh == 0 && item.CentralHigh.UncompressedHigh == 0;
}

TInflateAhead::TInflateAhead(const std::string& archivePath, const std::vector<TUnBaseHeaderObj>& list, int threads)
    : path_(archivePath), list_(list), slotOf_(list.size(), -1) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (!Eligible(list[i]) || slots_.size() >= static_cast<size_t>(INT32_MAX)) continue;
    slotOf_[i] = static_cast<int32_t>(slots_.size());
    slots_.push_back(i);
  }
  done_.assign(slots_.size(), 0);
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

void TInflateAhead::Fit(std::unique_ptr<uint8_t[]>& buffer, size_t& cap, size_t want) {
  want = std::max<size_t>(want, 1);
  if (buffer && cap >= want) return;
  auto best = spares_.end();
  for (auto it = spares_.begin(); it != spares_.end(); ++it)
    if (it->cap >= want && (best == spares_.end() || it->cap < best->cap)) best = it;
  TSpare old{std::move(buffer), cap};
  if (best != spares_.end()) {
    buffer = std::move(best->data);
    cap = best->cap;
    spares_.erase(best);
  } else {
    cap = (want + 0xFFFF) & ~static_cast<size_t>(0xFFFF);
    buffer = std::make_unique_for_overwrite<uint8_t[]>(cap);
  }
  if (old.data) spares_.push_back(std::move(old));
  Trim();
}

void TInflateAhead::Trim() {
  // Over the limit, the smallest spares go first.
  while (spares_.size() > kSpareBuffers) {
    auto smallest = std::min_element(spares_.begin(), spares_.end(),
                                     [](const TSpare& a, const TSpare& b) { return a.cap < b.cap; });
    spares_.erase(smallest);
  }
}

void TInflateAhead::Recycle(std::unique_ptr<TWholeEntry> entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Release(*entry);
}

void TInflateAhead::Release(TWholeEntry& entry) {
  if (entry.packed) spares_.push_back({std::move(entry.packed), entry.packedCap});
  if (entry.plain) spares_.push_back({std::move(entry.plain), entry.plainCap});
  entry.packedCap = entry.plainCap = 0;
  Trim();
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
    queuedBytes_ -= static_cast<int64_t>(e->packedCap + e->plainCap);
    Release(*e);
    ready_.erase(ready_.begin());
  }
  changed_.notify_all();
  changed_.wait(lock, [&] { return index >= done_.size() || done_[index] || stop_; });
  std::unique_ptr<TWholeEntry> found;
  auto it = ready_.find(index);
  if (it != ready_.end()) {
    found = std::move(it->second);
    queuedBytes_ -= static_cast<int64_t>(found->packedCap + found->plainCap);
    ready_.erase(it);
  }
  lock.unlock();
  changed_.notify_all();
  return found;
}

void TInflateAhead::Finish(size_t index, std::unique_ptr<TWholeEntry> entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry) {
      queuedBytes_ += static_cast<int64_t>(entry->packedCap + entry->plainCap);
      ready_.emplace(index, std::move(entry));
    }
    done_[index] = 1;
  }
  changed_.notify_all();
}

void TInflateAhead::Run() {
  TFileStream32 file(path_, fmOpenRead);
  TReadCache headers;
  headers.Reset(file.Valid() ? &file : nullptr);
  for (;;) {
    size_t index = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || next_ >= slots_.size()) return;
      index = next_++;
    }
    const TUnBaseHeaderObj& item = list_[slots_[index]];
    if (!file.Valid()) {
      Finish(index, nullptr);
      continue;
    }
    uint8_t rec[TLocalFileHeader::kSize];
    const bool read = headers.ReadAt(item.LocalPosition, rec, sizeof rec) == sizeof rec;
    const TSignatureClass sig = ClassifySignature(read ? GetU32(rec) : 0, htLocal);
    if (!read || sig.kind != htLocal || sig.encrypted) {
      Finish(index, nullptr);
      continue;
    }
    TLocalFileHeader local = TLocalFileHeader::Parse(rec);
    std::vector<uint8_t> extra(local.ExtraFieldLength);
    extra.resize(static_cast<size_t>(
        headers.ReadAt(item.LocalPosition + 30 + local.FileNameLength, extra.data(), local.ExtraFieldLength)));
    TSizeHighWords localHigh;
    ReadExtraField(extra.data(), extra.size(), local, localHigh, nullptr);
    int64_t compressed = 0, uncompressed = 0;
    EntrySizes(item, localHigh, compressed, uncompressed);
    if (compressed < 0 || uncompressed < 0 || compressed > kWholeEntryLimit || uncompressed > kWholeEntryLimit) {
      Finish(index, nullptr);
      continue;
    }
    const int64_t need = std::max<int64_t>(compressed, 1) + std::max<int64_t>(uncompressed, 1);
    {
      // Stay within the memory budget, except for the entry the component
      // waits for, which always goes ahead.
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] {
        return stop_ || index <= wanted_ || ready_.empty() ||
               (queuedBytes_ + need <= kAheadBudget && ready_.size() < kMaxQueued);
      });
      if (stop_) return;
    }
    auto e = std::make_unique<TWholeEntry>();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Fit(e->packed, e->packedCap, static_cast<size_t>(compressed));
      Fit(e->plain, e->plainCap, static_cast<size_t>(uncompressed));
    }
    e->dataPos = item.LocalPosition + 30 + local.FileNameLength + local.ExtraFieldLength;
    e->compressed = compressed;
    e->uncompressed = uncompressed;
    e->packedLen = static_cast<size_t>(std::max<int64_t>(headers.ReadAt(e->dataPos, e->packed.get(), compressed), 0));
    e->Inflate();
    Finish(index, std::move(e));
  }
}

}  // namespace tessavar
