#pragma once
// The streams the archive components move entry data through: growable
// memory (and the archive comment kept in it), the per-entry streams that
// store, checksum or inflate an entry's bytes over a shared underlying file,
// and the temporary archive (on disk or in memory) that replaces the archive
// only when the operation that built it is finished.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvStream.h"

namespace tessavar {

// ---------------------------------------------------------------- memory

// A block of memory read and written as a stream. Size and position are
// 32-bit quantities; a position set outside the block reads nothing.
class TCustomMemoryStream32 : public TStream32 {
 public:
  int64_t GetSize() override { return size_; }
  int64_t Read(void* buffer, int64_t count) override;
  // No range checks; a position before 0 or past the end just reads nothing.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  uint8_t* Memory() const { return memory_; }
  // Writes the whole content to Stream at its position; true when all of it went.
  bool SaveToStream(TStream32& Stream);

 protected:
  uint8_t* memory_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

class TMemoryStream32 : public TCustomMemoryStream32 {
 public:
  static constexpr int64_t kMemoryDelta = 8192;
  // The most a stream with a 32-bit size can hold.
  static constexpr int64_t kMaxSize = 0x7FFFFFFF;

  TMemoryStream32() = default;
  ~TMemoryStream32() override = default;

  void Clear();
  // Throws EStreamError when the block cannot take the size. Bytes gained
  // read as zeros; a position past the new end moves to the end.
  void SetSize(int64_t size) override;
  // Extends the size when writing past the end (a gap reads as zeros);
  // throws EStreamError when the block cannot grow.
  int64_t Write(const void* buffer, int64_t count) override;
  // Rewinds Source and takes all of it.
  virtual void LoadFromStream(TStream32& Source);
  // Opens the file with mode 32; false (and nothing loaded) when it does not open.
  virtual bool LoadFromFile(const std::string& FileName);
  int64_t Capacity() const { return capacity_; }

 protected:
  // Gives the block NewCapacity bytes, rounded up to a multiple of 8192
  // unless it equals the current size; 0 releases the block. Returns the
  // block; throws EStreamError "Out of memory while expanding memory stream".
  virtual uint8_t* Realloc(int64_t& NewCapacity);
  void SetCapacity(int64_t NewCapacity);

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, FreeDeleter> block_;
  int64_t capacity_ = 0;
};

// The archive comment of a component, with the position in the archive it
// was read from and whether it was changed since.
class TMainCommentStream : public TMemoryStream32 {
 public:
  // As the memory stream; writing a byte or more marks the comment modified.
  int64_t Write(const void* buffer, int64_t count) override;
  // Copies the comment from its start, whatever the position, and rewinds.
  // At most `count` bytes are copied, so pass a buffer of Size() bytes.
  int64_t Read(void* buffer, int64_t count) override;
  // Replaces the comment with Count bytes of Source (0: all of it), taking
  // Source's position first; the result is unmodified and rewound.
  int64_t CopyFrom(TStream32& Source, int64_t Count) override;
  // The comment is only ever filled by CopyFrom.
  void LoadFromStream(TStream32&) override {}
  bool LoadFromFile(const std::string&) override { return false; }

  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }
  int64_t ArchivePosition() const { return archivePosition_; }
  void SetArchivePosition(int64_t value) { archivePosition_ = value; }

 private:
  bool modified_ = false;
  int64_t archivePosition_ = 0;
};

// ---------------------------------------------------------------- per-entry streams

// Cipher byte (the high byte of Options) of the traditional ZIP cipher.
inline constexpr uint8_t kCipherZipV2 = 4;

// What the compressor frame hands to each per-entry stream.
struct CoderParams {
  uint32_t Crc = 0;             // CRC seed, or the CRC computed before for an encrypted entry
  int64_t* Remaining = nullptr;  // the operation's count of bytes still to process
  bool* CancelFlag = nullptr;    // the component's cancel flag
  uint16_t Options = 0;          // high byte: encryption method (4: traditional cipher)
  TSeedKeyValues* Keys = nullptr;  // the component's data keys, used with cipher 4
};

// Base of the per-entry streams. The underlying stream may be shared with
// other streams: each transfer first puts it back where this stream's last
// transfer ended (StreamPos).
class TCustomStream : public TStream32 {
 public:
  static constexpr int64_t kBufferSize = 0x1FFFE;  // 131070

  explicit TCustomStream(TStream32& Strm);
  ~TCustomStream() override = default;

  void SetSize(int64_t) override {}
  // Takes the CRC seed, the counter, the cancel flag, the cipher and the keys.
  void ApplyParams(const CoderParams& Params);

  int64_t StreamPos() const { return streamPos_; }
  TStream32& Underlying() { return strm_; }
  uint32_t Crc() const { return rec_.Crc; }
  bool StreamEnd() const { return rec_.StreamEnd; }
  uint8_t Cipher() const { return rec_.Cipher; }

 protected:
  struct TCoderRec {
    z_stream Z{};
    uint32_t Crc = 0;
    bool StreamEnd = false;
    uint8_t Cipher = 0;
    TSeedKeyValues* Keys = nullptr;
  };
  void SyncUnderlying();
  static voidpf ZAlloc(voidpf opaque, uInt items, uInt size);
  static void ZFree(voidpf opaque, voidpf address);

  TStream32& strm_;
  int64_t streamPos_;
  std::vector<uint8_t> buffer_;
  TCoderRec rec_;
};

// Writes an entry's data unchanged (ZIP method 0), with its CRC (kind 16 or
// 32) or, for an encrypted entry, enciphered with the data keys.
class TStoreStream : public TCustomStream {
 public:
  // An encrypted entry (cipher byte not 0) computes no CRC: Params.Crc is the
  // CRC computed in the pass before. Otherwise the CRC starts at 0 (kind 16)
  // or 0xFFFFFFFF (kind 32).
  TStoreStream(TStream32& Target, const CoderParams& Params, int CrcKind);

  // Returns the bytes that reached the target; with cipher 4 but no keys
  // nothing is written (never plain data in place of enciphered).
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Read(void*, int64_t) override { return -1; }
  // Only the current position can be asked, and it is 0.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Copies Count bytes of Source (0: all of it) in chunks of 102400 bytes,
  // progress reporting Source's position. Returns the bytes stored.
  virtual int64_t StoreFrom(TStream32& Source, int64_t Count);

 private:
  int crcKind_;
  TStream32* source_ = nullptr;
};

// Computes the CRC of a stream without writing anything, at construction.
class TCalcStreamCRC : public TCustomStream {
 public:
  TCalcStreamCRC(TStream32& Source, TStreamEvent Progress, bool* Cancel, const CoderParams& Params, int CrcKind,
                 int64_t Count);
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Read(void*, int64_t) override { return -1; }
  int64_t Seek(int64_t, TSeekOrigin) override { return -1; }
  int64_t Copied() const { return copied_; }

 private:
  int crcKind_;
  TStream32* source_;
  int64_t copied_ = 0;
};

// The CRC-32 register (not inverted) of the whole of Source, which is
// rewound afterwards. The pass counts Remaining down when Progress is set.
uint32_t CalcFileCrc(TStream32& Source, TStreamEvent Progress, bool* Cancel, const CoderParams& Params);

// Reads deflate data (raw with negative window bits) from Source.
class TDecompressStream : public TCustomStream {
 public:
  // Cipher 4 deciphers the compressed bytes with Keys as they are read.
  TDecompressStream(TStream32& Source, int WindowBits, uint8_t Cipher, TSeedKeyValues* Keys = nullptr);
  // Gives unread input back (Source's position moves back to the first byte
  // inflate did not take, the keys to the state before it) and ends the coder.
  ~TDecompressStream() override;

  // Fills up to Count bytes of Buffer, reading Source InChunk bytes (at most
  // 131070) at a time, never past the input limit. Returns Count, the bytes
  // produced when the deflate stream ended (0 after the end), or zlib's
  // negative code: -5 when no progress is possible (input used up), -3 for
  // invalid data. LastProduced() tells what a failing call still produced.
  int64_t Decode(void* Buffer, int64_t InChunk, int64_t Count);
  // Decode with the input chunk min(Count, 131070); bytes produced before an
  // error are returned first, the error on the next call.
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void*, int64_t) override { return -1; }
  // Seek(0, soFromBeginning) starts over from Source's start; a forward seek
  // skips decoded bytes; nothing goes back. Returns the low 32 bits of the
  // total output; throws ERangeError for an offset outside 32 signed bits.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return totalOut_; }

  virtual void ResetCoder();
  virtual void EndCoder();
  virtual int InitCoder(int WindowBits);

  // Caps the compressed bytes read from Source in all (-1: no cap).
  void SetInputLimit(int64_t Limit) { inputLimit_ = Limit; }
  int64_t InputLimit() const { return inputLimit_; }
  int64_t InputRead() const { return inputRead_; }  // bytes taken from Source
  int64_t TotalIn() const { return totalIn_; }      // bytes inflate consumed
  int64_t TotalOut() const { return totalOut_; }
  int64_t LastProduced() const { return lastProduced_; }

 private:
  void Skip(int64_t count);

  bool coderReady_ = false;
  int initResult_ = Z_OK;
  int64_t inputLimit_ = -1;
  int64_t inputRead_ = 0;
  int64_t totalIn_ = 0;
  int64_t totalOut_ = 0;
  int64_t lastProduced_ = 0;
  // Keys before the current input chunk was deciphered, and before the first.
  TSeedKeyValues chunkKeys_{};
  TSeedKeyValues startKeys_{};
  bool haveStartKeys_ = false;
  int64_t chunkLength_ = 0;
};

// ---------------------------------------------------------------- temporary archives

enum class TTempMoveResult { Moved, NothingToDo, Cancelled, Failed };

// Whether a temporary archive and its archive share one mounted file system
// (then a rename puts it in place). Tests replace the decision to reach the
// copying path; an empty function restores platform::SameFileSystem.
using TSameDriveDecision = std::function<bool(const std::string& TempName, const std::string& Archive)>;
TSameDriveDecision SetSameDriveDecision(TSameDriveDecision decision);
bool SameDrive(const std::string& TempName, const std::string& Archive);

// A new empty file "ztv..." in Folder, which is created when missing; the
// system's temporary folder when Folder is empty or cannot be made. "" on failure.
std::string MakeTempFileName(const std::string& Folder);

// With mode 0xFFFF a temporary archive for the archive Name, made in
// TempDir; any other mode opens Name as a plain file. The component's cancel
// flag, remaining counter and temporary-file steps are taken at creation.
class TTempFileStream : public TFileStream32 {
 public:
  TTempFileStream(TZipCommon* Component, uint16_t Mode, const std::string& Name, const std::string& TempDir = "");
  // Finish(), when it was not called before. A temporary archive destroyed
  // by an exception passing through is unfinished: it is discarded, never
  // moved over the archive.
  ~TTempFileStream() override;

  // As the handle stream, but the progress step runs only while the
  // component's remaining counter is above 0.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t CopyFrom(TStream32& Source, int64_t Count) override;

  bool IsTempArchive() const { return tempArchive_; }
  uint16_t Mode() const { return mode_; }
  // Mode 0: there is nothing to move, the temporary archive is discarded.
  void SetMode(uint16_t value) { mode_ = value; }
  const std::string& FinalName() const { return finalName_; }
  const std::string& TempName() const { return FileName(); }

  // Ends a temporary archive: discarded when the cancel flag is set or the
  // mode is 0; otherwise OnTmpFileMoveBegin (which may cancel), the move
  // (MoveTempFile), and OnTmpFileMoveEnd when the component's recorded
  // archive size is above 65536. The temporary file is removed unless the
  // move failed; then it is kept, so the new archive is not lost.
  TTempMoveResult Finish();

 private:
  TZipCommon* component_;
  uint16_t mode_;
  bool tempArchive_;
  std::string finalName_;
  bool finished_ = false;
  TTempMoveResult result_ = TTempMoveResult::NothingToDo;
  int uncaught_;
};

// The in-memory temporary archive: with mode 0xFFFF it replaces the archive
// Name when finished (the move step receives the name "NoName" and copies
// this stream); otherwise a plain memory stream.
class TTempMemStream : public TMemoryStream32 {
 public:
  static constexpr const char* kNoName = "NoName";

  TTempMemStream(TZipCommon* Component, uint16_t Mode, const std::string& Name);
  // Finish(), unless an exception is passing through (then nothing is written).
  ~TTempMemStream() override;

  int64_t CopyFrom(TStream32& Source, int64_t Count) override;

  bool IsTempArchive() const { return tempArchive_; }
  uint16_t Mode() const { return mode_; }
  void SetMode(uint16_t value) { mode_ = value; }
  const std::string& FinalName() const { return finalName_; }

  // Nothing is written when cancelled or with mode 0; otherwise
  // OnTmpFileMoveBegin, the move unless cancelled there, and always
  // OnTmpFileMoveEnd.
  TTempMoveResult Finish();

 private:
  uint16_t mode_;
  bool tempArchive_;
  std::string finalName_;
  bool finished_ = false;
  TTempMoveResult result_ = TTempMoveResult::NothingToDo;
  int uncaught_;
};

}  // namespace tessavar
