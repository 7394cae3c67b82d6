#pragma once
// The small component model the archive components stand on: an owner, a
// loading state, the exception class, the elapsed-time timer and the event
// signatures every component shares.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "archive/frame/ztvTypes.h"

namespace tessavar {

class TObject {
 public:
  virtual ~TObject() = default;
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // While a window's stored properties are being applied some setters keep
  // the value unchanged instead of acting on it.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  void EndLoading() { loading_ = false; }

 private:
  TComponent* owner_;
  std::string name_;
  bool loading_ = false;
};

// The components' exception: its message is the error table's text of the code.
class E_RAISE : public std::runtime_error {
 public:
  explicit E_RAISE(const std::string& message) : std::runtime_error(message) {}
};

// Measures an operation's run time; the time a message box is open is left
// out by pausing around error delivery.
class TZipTimer {
 public:
  void Start();
  void Stop();
  void Pause();
  void Resume();
  bool Running() const { return startTick_ != 0; }
  float ElapsedTime() const { return elapsed_; }
  uint32_t StartTick() const { return startTick_; }
  uint32_t StopTick() const { return stopTick_; }
  uint32_t PauseTick() const { return pauseTick_; }

 private:
  uint32_t startTick_ = 0;  // 0 means stopped
  uint32_t stopTick_ = 0;
  uint32_t pauseTick_ = 0;
  float elapsed_ = 0.0f;
};

// Event signatures. The first parameter is the sender; references are the
// values a handler may change.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TOnBegin = std::function<void(TObject* Sender, const std::string& FileName, int Count, bool& Extract)>;
using TOnEnd = std::function<void(TObject* Sender, const std::string& FileName, bool CRC_PASS)>;
using TOnProgress = std::function<void(TObject* Sender, uint8_t ByFile, uint8_t ByArchive)>;
using TOnError = std::function<void(TObject* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                                    const std::string& VolumeID, int ECode)>;
using TOnElapsedTime = std::function<void(TObject* Sender, float ElapsedTime)>;
using TOnGetPassword = std::function<void(TObject* Sender, const std::string& FileName, std::string& Password,
                                          TSeedKeyValues& HeaderKeys, TSeedKeyValues& DataKeys, bool& TryAgain)>;
using TOnExcludeFile = std::function<void(TObject* Sender, const std::string& FileName)>;
using TOnDeleteFile = std::function<void(TObject* Sender, const std::string& FileName, int Count, int MaxCount)>;
using TOnRenameFile = std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName)>;
using TOnNextVolume = std::function<void(TObject* Sender, std::string& VolumeName, int VolumeID, bool FExists,
                                         bool& Cancel)>;
using TOnInsertDisk = std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TOnGetZipFirstDisk = std::function<void(TObject* Sender, bool& Cancel)>;
using TOnGetZipNextDisk = std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TOnGetZipLastDisk = std::function<void(TObject* Sender, bool& Cancel)>;
using TOnCorruptZipHeader = std::function<void(TObject* Sender, THeaderTypeState HeadFlag, bool& Cancel)>;
using TOnNestedTarFile = std::function<void(TObject* Sender, const std::string& FileName, bool& DoUnTar)>;
using TOnRead = std::function<void(TObject* Sender, int Offset, int Filenum)>;
using TTempFileMoveBegin = std::function<void(TObject* Sender, const std::string& Archive,
                                              const std::string& TempFileName, bool& Cancel)>;
using TOnDiskError = std::function<void(TObject* Sender, bool& Abort)>;

// The seed triples of the two key sets are shared by the whole program; every
// password set-up and header record starts from them.
inline constexpr TSeedKeyValues kDefaultDataSeed{0x12345678u, 0x23456789u, 0x34567890u};
inline constexpr TSeedKeyValues kDefaultHeaderSeed{0x3C61A9D4u, 0x0B7E2F15u, 0x4D90C6E2u};
TSeedKeyValues& DataSeed();
TSeedKeyValues& HeaderSeed();

enum class TSeedKeyKind : uint8_t { Data, Header };

// The published view of one key set of a component. Reading gives the set's
// current keys; writing sets them until the next reload from the seed.
class TSeedKeys : public TObject {
 public:
  // A header-kind view reloads the header seed and the keys with the defaults.
  TSeedKeys(TSeedKeyKind kind, TSeedKeyValues& keys);
  TSeedKeyKind Kind() const { return kind_; }
  uint32_t Key0() const { return keys_->Key0; }
  uint32_t Key1() const { return keys_->Key1; }
  uint32_t Key2() const { return keys_->Key2; }
  void SetKey0(uint32_t v) { keys_->Key0 = v; }
  void SetKey1(uint32_t v) { keys_->Key1 = v; }
  void SetKey2(uint32_t v) { keys_->Key2 = v; }
  TSeedKeyValues& Keys() { return *keys_; }

 private:
  TSeedKeyKind kind_;
  TSeedKeyValues* keys_;
};

}  // namespace tessavar
