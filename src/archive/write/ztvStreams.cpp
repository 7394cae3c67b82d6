#include "archive/write/ztvStreams.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>

#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/Application.h"
#include "platform/File.h"
#include "platform/Temp.h"

namespace tessavar {

namespace {

const char* const kExpandError = "Out of memory while expanding memory stream";

// Positions come from callers unchecked; their sums must not overflow.
int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_add_overflow(a, b, &r))
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return r;
}

void UpdateCrc(int kind, uint32_t& crc, const uint8_t* p, int64_t n) {
  if (n <= 0) return;
  if (kind == 32) crc = Crc32Update(p, static_cast<size_t>(n), crc);
  else if (kind == 16) crc = Crc16Update(p, static_cast<size_t>(n), static_cast<uint16_t>(crc));
}

}  // namespace

// ---------------------------------------------------------------- memory

int64_t TCustomMemoryStream32::Read(void* buffer, int64_t count) {
  if (buffer == nullptr || count <= 0 || position_ < 0 || position_ >= size_) return 0;
  const int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TCustomMemoryStream32::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soFromBeginning: position_ = offset; break;
    case soFromCurrent: position_ = SaturatingAdd(position_, offset); break;
    case soFromEnd: position_ = SaturatingAdd(size_, offset); break;
  }
  return position_;
}

bool TCustomMemoryStream32::SaveToStream(TStream32& Stream) {
  return size_ == 0 || Stream.Write(memory_, size_) == size_;
}

uint8_t* TMemoryStream32::Realloc(int64_t& NewCapacity) {
  if (NewCapacity < 0 || NewCapacity > kMaxSize) throw EStreamError(kExpandError);
  if (NewCapacity > 0 && NewCapacity != size_)
    NewCapacity = (NewCapacity + (kMemoryDelta - 1)) & ~(kMemoryDelta - 1);
  if (NewCapacity == capacity_) return block_.get();
  if (NewCapacity == 0) {
    block_.reset();
    return nullptr;
  }
  void* grown = std::realloc(block_.get(), static_cast<size_t>(NewCapacity));
  if (grown == nullptr) throw EStreamError(kExpandError);  // the old block is still held
  (void)block_.release();
  block_.reset(static_cast<uint8_t*>(grown));
  return block_.get();
}

void TMemoryStream32::SetCapacity(int64_t NewCapacity) {
  memory_ = Realloc(NewCapacity);
  capacity_ = NewCapacity;
}

void TMemoryStream32::Clear() {
  SetCapacity(0);
  size_ = 0;
  position_ = 0;
}

void TMemoryStream32::SetSize(int64_t size) {
  if (size < 0 || size > kMaxSize) throw EStreamError(kExpandError);
  const int64_t old = size_;
  SetCapacity(size);
  if (size > old) std::memset(memory_ + old, 0, static_cast<size_t>(size - old));
  size_ = size;
  if (position_ > size_) position_ = size_;
}

int64_t TMemoryStream32::Write(const void* buffer, int64_t count) {
  if (buffer == nullptr || count <= 0 || position_ < 0) return 0;
  if (position_ > kMaxSize || count > kMaxSize - position_) throw EStreamError(kExpandError);
  const int64_t end = position_ + count;
  const auto* src = static_cast<const uint8_t*>(buffer);
  if (end > size_) {
    // A source inside this very block moves with it.
    const bool inside = memory_ != nullptr && src >= memory_ && src < memory_ + capacity_;
    const int64_t offset = inside ? src - memory_ : 0;
    if (end > capacity_) SetCapacity(end);
    if (inside) src = memory_ + offset;
    if (position_ > size_) std::memset(memory_ + size_, 0, static_cast<size_t>(position_ - size_));
    size_ = end;
  }
  std::memmove(memory_ + position_, src, static_cast<size_t>(count));
  position_ = end;
  return count;
}

void TMemoryStream32::LoadFromStream(TStream32& Source) {
  Source.SetPosition(0);
  const int64_t count = std::max<int64_t>(Source.Size(), 0);
  SetSize(count);
  int64_t got = count > 0 ? Source.Read(memory_, count) : 0;
  got = std::clamp<int64_t>(got, 0, count);
  if (got < count) SetSize(got);  // a source shorter than it said
}

bool TMemoryStream32::LoadFromFile(const std::string& FileName) {
  TFileStream32 file(FileName, fmShareDenyWrite);
  if (!file.Valid()) return false;
  LoadFromStream(file);
  return true;
}

int64_t TMainCommentStream::Write(const void* buffer, int64_t count) {
  const int64_t n = TMemoryStream32::Write(buffer, count);
  if (n >= 1) modified_ = true;
  return n;
}

int64_t TMainCommentStream::Read(void* buffer, int64_t count) {
  position_ = 0;
  const int64_t n = TCustomMemoryStream32::Read(buffer, count);
  position_ = 0;
  return n;
}

int64_t TMainCommentStream::CopyFrom(TStream32& Source, int64_t Count) {
  Clear();
  archivePosition_ = Source.Position();
  const int64_t n = TMemoryStream32::CopyFrom(Source, Count);
  modified_ = false;
  position_ = 0;
  return n;
}

// ---------------------------------------------------------------- per-entry streams

TCustomStream::TCustomStream(TStream32& Strm)
    : strm_(Strm), streamPos_(Strm.Position()), buffer_(static_cast<size_t>(kBufferSize)) {
  rec_.Z.zalloc = &ZAlloc;
  rec_.Z.zfree = &ZFree;
  rec_.Z.opaque = nullptr;
}

void TCustomStream::ApplyParams(const CoderParams& Params) {
  rec_.Crc = Params.Crc;
  Remaining = Params.Remaining;
  CancelFlag = Params.CancelFlag;
  rec_.Cipher = static_cast<uint8_t>(Params.Options >> 8);
  rec_.Keys = Params.Keys;
}

void TCustomStream::SyncUnderlying() {
  if (strm_.Position() != streamPos_) strm_.SetPosition(streamPos_);
}

voidpf TCustomStream::ZAlloc(voidpf, uInt items, uInt size) { return std::calloc(items, size); }

void TCustomStream::ZFree(voidpf, voidpf address) { std::free(address); }

TStoreStream::TStoreStream(TStream32& Target, const CoderParams& Params, int CrcKind)
    : TCustomStream(Target), crcKind_(CrcKind) {
  ApplyParams(Params);
  if (rec_.Cipher != 0) rec_.Crc = CrcKind == 16 ? (Params.Crc & 0xFFFFu) : Params.Crc;
  else rec_.Crc = CrcKind == 16 ? 0u : 0xFFFFFFFFu;
}

int64_t TStoreStream::Write(const void* buffer, int64_t count) {
  if (buffer == nullptr || count <= 0) return 0;
  const bool encipher = rec_.Cipher == kCipherZipV2;
  if (encipher && rec_.Keys == nullptr) return 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  if (rec_.Cipher == 0) UpdateCrc(crcKind_, rec_.Crc, p, count);
  if (Remaining) *Remaining -= count;
  SyncUnderlying();
  int64_t written = 0;
  if (encipher) {
    // The caller's bytes stay as they are; the cipher works on a copy.
    while (written < count) {
      const int64_t n = std::min<int64_t>(count - written, kBufferSize);
      std::memcpy(buffer_.data(), p + written, static_cast<size_t>(n));
      EncipherBuffer(*rec_.Keys, buffer_.data(), static_cast<size_t>(n));
      const int64_t w = strm_.Write(buffer_.data(), n);
      if (w > 0) written += w;
      if (w != n) break;
    }
  } else {
    written = std::max<int64_t>(strm_.Write(p, count), 0);
  }
  streamPos_ = strm_.Position();
  DoProgress(source_);
  return written;
}

int64_t TStoreStream::Seek(int64_t offset, TSeekOrigin origin) {
  return offset == 0 && origin == soFromCurrent ? 0 : -1;
}

int64_t TStoreStream::StoreFrom(TStream32& Source, int64_t Count) {
  Source.ActiveProgress = ProgressHandler;
  source_ = &Source;
  const int64_t stored = CopyInChunks(Source, Count, 102400);
  source_ = nullptr;  // the source may not outlive this call
  return stored;
}

TCalcStreamCRC::TCalcStreamCRC(TStream32& Source, TStreamEvent Progress, bool* Cancel, const CoderParams& Params,
                               int CrcKind, int64_t Count)
    : TCustomStream(Source), crcKind_(CrcKind), source_(&Source) {
  ApplyParams(Params);
  rec_.Crc = CrcKind == 16 ? 0u : 0xFFFFFFFFu;
  Source.ActiveProgress = Progress;
  ProgressHandler = Progress;
  CancelFlag = Cancel;
  copied_ = CopyFrom(Source, Count);
}

int64_t TCalcStreamCRC::Write(const void* buffer, int64_t count) {
  if (buffer == nullptr || count <= 0) return 0;
  UpdateCrc(crcKind_, rec_.Crc, static_cast<const uint8_t*>(buffer), count);
  if (source_->ActiveProgress) {
    if (Remaining) *Remaining -= count;
    DoProgress(source_);
  }
  return count;
}

uint32_t CalcFileCrc(TStream32& Source, TStreamEvent Progress, bool* Cancel, const CoderParams& Params) {
  TCalcStreamCRC calc(Source, std::move(Progress), Cancel, Params, 32, 0);
  Source.SetPosition(0);
  return calc.Crc();
}

TDecompressStream::TDecompressStream(TStream32& Source, int WindowBits, uint8_t Cipher, TSeedKeyValues* Keys)
    : TCustomStream(Source) {
  rec_.Cipher = Cipher;
  rec_.Keys = Keys;
  rec_.Z.next_in = buffer_.data();
  rec_.Z.avail_in = 0;
  InitCoder(WindowBits);
}

TDecompressStream::~TDecompressStream() {
  const int64_t unread = rec_.Z.avail_in;
  if (unread > 0) {
    try {
      strm_.SetPosition(streamPos_ - unread);
    } catch (...) {
      // The source is going away with this stream; nothing to give back to.
    }
    // The keys go back to where the first unread byte begins, as if it had
    // never been read: replay the consumed plain bytes of this chunk.
    if (rec_.Cipher == kCipherZipV2 && rec_.Keys != nullptr && chunkLength_ >= unread) {
      *rec_.Keys = chunkKeys_;
      for (int64_t i = 0; i < chunkLength_ - unread; ++i) UpdateKeys(*rec_.Keys, buffer_[static_cast<size_t>(i)]);
    }
  }
  EndCoder();
}

int TDecompressStream::InitCoder(int WindowBits) {
  EndCoder();
  rec_.Z.next_in = buffer_.data();
  rec_.Z.avail_in = 0;
  initResult_ = inflateInit2(&rec_.Z, WindowBits);
  coderReady_ = initResult_ == Z_OK;
  return initResult_;
}

void TDecompressStream::EndCoder() {
  if (coderReady_) inflateEnd(&rec_.Z);
  coderReady_ = false;
}

void TDecompressStream::ResetCoder() {
  if (coderReady_) inflateReset(&rec_.Z);
  rec_.Z.next_in = buffer_.data();
  rec_.Z.avail_in = 0;
  rec_.StreamEnd = false;
  chunkLength_ = 0;
  inputRead_ = 0;
  totalIn_ = 0;
  totalOut_ = 0;
  lastProduced_ = 0;
  if (haveStartKeys_ && rec_.Keys != nullptr) *rec_.Keys = startKeys_;
  haveStartKeys_ = false;
}

int64_t TDecompressStream::Decode(void* Buffer, int64_t InChunk, int64_t Count) {
  lastProduced_ = 0;
  if (Count <= 0) return 0;
  if (Buffer == nullptr || !coderReady_) return initResult_ < 0 ? initResult_ : Z_STREAM_ERROR;
  const bool decipher = rec_.Cipher == kCipherZipV2;
  if (decipher && rec_.Keys == nullptr) return Z_STREAM_ERROR;
  if (rec_.StreamEnd) return 0;

  // zlib counts in 32 bits; a larger request is served in part.
  const int64_t want = std::min<int64_t>(Count, int64_t{1} << 30);
  InChunk = std::clamp<int64_t>(InChunk, 0, kBufferSize);
  z_stream& z = rec_.Z;
  z.next_out = static_cast<Bytef*>(Buffer);
  z.avail_out = static_cast<uInt>(want);
  SyncUnderlying();
  while (z.avail_out > 0) {
    if (z.avail_in == 0) {
      int64_t ask = InChunk;
      if (inputLimit_ >= 0) ask = std::min(ask, std::max<int64_t>(inputLimit_ - inputRead_, 0));
      int64_t got = 0;
      if (ask > 0) {
        got = std::clamp<int64_t>(strm_.Read(buffer_.data(), ask), 0, ask);
        streamPos_ = strm_.Position();
      }
      if (got > 0) {
        if (decipher) {
          if (!haveStartKeys_) {
            startKeys_ = *rec_.Keys;
            haveStartKeys_ = true;
          }
          chunkKeys_ = *rec_.Keys;
          DecipherBuffer(*rec_.Keys, buffer_.data(), static_cast<size_t>(got));
        }
        inputRead_ += got;
        DoProgress(this);
      }
      chunkLength_ = got;
      z.next_in = buffer_.data();
      z.avail_in = static_cast<uInt>(got);
    }
    const uInt inBefore = z.avail_in;
    const uInt outBefore = z.avail_out;
    int ret = inflate(&z, Z_NO_FLUSH);
    totalIn_ += inBefore - z.avail_in;
    totalOut_ += outBefore - z.avail_out;
    lastProduced_ += outBefore - z.avail_out;
    if (ret == Z_STREAM_END) {
      rec_.StreamEnd = true;
      return want - z.avail_out;
    }
    if (ret == Z_NEED_DICT) ret = Z_DATA_ERROR;  // raw deflate has no dictionary
    if (ret < 0) return ret;
    // zlib promises progress or Z_BUF_ERROR; never spin if it did neither.
    if (inBefore == z.avail_in && outBefore == z.avail_out) return Z_BUF_ERROR;
  }
  return want;
}

int64_t TDecompressStream::Read(void* Buffer, int64_t Count) {
  const int64_t r = Decode(Buffer, std::min<int64_t>(Count, kBufferSize), Count);
  if (r < 0 && lastProduced_ > 0) return lastProduced_;
  return r;
}

void TDecompressStream::Skip(int64_t count) {
  uint8_t scratch[4096];
  while (count > 0) {
    const int64_t r = Read(scratch, std::min<int64_t>(count, sizeof scratch));
    if (r <= 0) break;
    count -= r;
  }
}

int64_t TDecompressStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset < std::numeric_limits<int32_t>::min() || Offset > std::numeric_limits<int32_t>::max())
    throw ERangeError();
  if (Offset == 0 && Origin == soFromBeginning) {
    ResetCoder();
    strm_.SetPosition(0);
    streamPos_ = 0;
  } else if (Origin == soFromCurrent && Offset >= 0) {
    Skip(Offset);
  } else if (Origin == soFromBeginning && Offset > totalOut_) {
    Skip(Offset - totalOut_);
  }
  return static_cast<uint32_t>(totalOut_);
}

// ---------------------------------------------------------------- temporary archives

namespace {

std::mutex gSameDriveMutex;
std::shared_ptr<const TSameDriveDecision> gSameDrive;

}  // namespace

TSameDriveDecision SetSameDriveDecision(TSameDriveDecision decision) {
  std::shared_ptr<const TSameDriveDecision> next;
  if (decision) next = std::make_shared<const TSameDriveDecision>(std::move(decision));
  std::lock_guard<std::mutex> lock(gSameDriveMutex);
  TSameDriveDecision previous = gSameDrive ? *gSameDrive : TSameDriveDecision();
  gSameDrive = std::move(next);
  return previous;
}

bool SameDrive(const std::string& TempName, const std::string& Archive) {
  std::shared_ptr<const TSameDriveDecision> decision;
  {
    std::lock_guard<std::mutex> lock(gSameDriveMutex);
    decision = gSameDrive;
  }
  if (decision) return (*decision)(TempName, Archive);
  return platform::SameFileSystem(TempName, Archive);
}

std::string MakeTempFileName(const std::string& Folder) {
  std::string dir = Folder;
  if (!dir.empty() && !platform::DirExists(dir) && !platform::ForceDirs(dir)) dir.clear();
  if (dir.empty()) {
    dir = platform::SystemTempDir();
    if (!platform::DirExists(dir)) platform::ForceDirs(dir);
  }
  return platform::CreateTempFile(dir, "ztv");
}

namespace {

// The component's four temporary-file steps and its cancel flag.
void TakeComponentSteps(TStream32& s, TZipCommon* c) {
  if (c == nullptr) return;
  s.CancelFlag = c->CancelFlag();
  s.Remaining = c->Remaining();
  s.MoveHandler = [c](TStream32* temp, const std::string& dest, bool same, const std::string& name) {
    return c->MoveTempFile(temp, dest, same, name);
  };
  s.MoveBeginHandler = [c](const std::string& archive, const std::string& temp, bool& cancel) {
    c->DoTmpFileMoveBegin(archive, temp, cancel);
  };
  s.MoveEndHandler = [c]() { c->DoTmpFileMoveEnd(); };
  s.ReadNotify = [c](TStream32* sender) { c->DoTmpFileProgress(sender); };
}

// Runs the move protocol of a finished temporary archive; exceptions of the
// handlers count as a failed move, so the old archive stays as it was.
struct MoveOutcome {
  bool cancelled = false;
  bool moved = false;
};

MoveOutcome RunMove(TStream32& s, const std::string& finalName, const std::string& tempName, bool sameDrive,
                    bool cancel, bool withEnd) {
  MoveOutcome out;
  out.cancelled = cancel;
  try {
    if (s.MoveBeginHandler) s.MoveBeginHandler(finalName, tempName, out.cancelled);
    if (!out.cancelled && s.MoveHandler) out.moved = s.MoveHandler(&s, finalName, sameDrive, tempName);
  } catch (...) {
    out.cancelled = false;
    out.moved = false;
  }
  if (withEnd && s.MoveEndHandler) {
    try {
      s.MoveEndHandler();
    } catch (...) {
      // The archive is in place (or not) whatever the handler does.
    }
  }
  return out;
}

}  // namespace

TTempFileStream::TTempFileStream(TZipCommon* Component, uint16_t Mode, const std::string& Name,
                                 const std::string& TempDir)
    : TFileStream32(Mode == fmCreate ? MakeTempFileName(TempDir) : Name, Mode),
      component_(Component),
      mode_(Mode),
      tempArchive_(Mode == fmCreate),
      finalName_(Mode == fmCreate ? Name : std::string()),
      uncaught_(std::uncaught_exceptions()) {
  TakeComponentSteps(*this, Component);
}

TTempFileStream::~TTempFileStream() {
  try {
    if (std::uncaught_exceptions() > uncaught_ && tempArchive_ && !finished_) {
      finished_ = true;
      const std::string tempName = FileName();
      Close();
      if (!tempName.empty()) platform::DeleteFile(tempName);
      return;
    }
    Finish();
  } catch (...) {
    // Finish reports its own failures; a destructor must not throw.
  }
}

int64_t TTempFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = platform::FileRead(handle_, buffer, count);
  if (n < 0) n = 0;
  if (n > 0 && Remaining && *Remaining > 0) {
    *Remaining -= count;
    if (ReadNotify) ReadNotify(this);
  }
  return n;
}

int64_t TTempFileStream::CopyFrom(TStream32& Source, int64_t Count) { return CopyInChunks(Source, Count, 100000); }

TTempMoveResult TTempFileStream::Finish() {
  if (finished_) return result_;
  finished_ = true;
  const std::string tempName = FileName();
  if (!tempArchive_) {
    Close();
    return result_ = TTempMoveResult::NothingToDo;
  }
  if (!Valid()) {
    // It never opened; whoever created it has reported that.
    if (!tempName.empty()) platform::DeleteFile(tempName);
    return result_ = TTempMoveResult::Failed;
  }
  if (IsCancelled()) {
    Close();
    platform::DeleteFile(tempName);
    return result_ = TTempMoveResult::Cancelled;
  }
  if (mode_ == 0 || finalName_.empty()) {
    Close();
    platform::DeleteFile(tempName);
    return result_ = TTempMoveResult::NothingToDo;
  }
  const bool same = SameDrive(tempName, finalName_);
  Close();
  const bool withEnd = component_ != nullptr && component_->ArchiveSize() > 65536;
  const MoveOutcome out = RunMove(*this, finalName_, tempName, same, IsCancelled(), withEnd);
  if (out.cancelled) {
    platform::DeleteFile(tempName);
    return result_ = TTempMoveResult::Cancelled;
  }
  if (out.moved) {
    if (platform::FileExists(tempName)) platform::DeleteFile(tempName);
    return result_ = TTempMoveResult::Moved;
  }
  // The move step reported the failure; the new archive stays where it is.
  return result_ = TTempMoveResult::Failed;
}

TTempMemStream::TTempMemStream(TZipCommon* Component, uint16_t Mode, const std::string& Name)
    : mode_(Mode),
      tempArchive_(Mode == fmCreate),
      finalName_(Mode == fmCreate ? Name : std::string()),
      uncaught_(std::uncaught_exceptions()) {
  TakeComponentSteps(*this, Component);
}

TTempMemStream::~TTempMemStream() {
  try {
    if (std::uncaught_exceptions() > uncaught_) return;
    Finish();
  } catch (...) {
    // Finish reports its own failures; a destructor must not throw.
  }
}

int64_t TTempMemStream::CopyFrom(TStream32& Source, int64_t Count) { return CopyInChunks(Source, Count, 100000); }

TTempMoveResult TTempMemStream::Finish() {
  if (finished_) return result_;
  finished_ = true;
  if (!tempArchive_ || mode_ == 0 || finalName_.empty()) return result_ = TTempMoveResult::NothingToDo;
  if (IsCancelled()) return result_ = TTempMoveResult::Cancelled;
  const MoveOutcome out = RunMove(*this, finalName_, kNoName, false, IsCancelled(), true);
  if (out.cancelled) return result_ = TTempMoveResult::Cancelled;
  return result_ = out.moved ? TTempMoveResult::Moved : TTempMoveResult::Failed;
}

}  // namespace tessavar
