#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/frame/ztvBase.h"
#include "archive/zip/ztvDiskSpann.h"
#include "platform/Drive.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using test::zip::Append;

struct Disk {
  std::vector<uint8_t> bytes;  // empty: the archive file is not on this disk
  std::string label;
};

void AppendLocal(std::vector<uint8_t>& out, const std::string& name, uint32_t size) {
  TLocalFileHeader h;
  h.CompressedSize = h.UncompressedSize = size;
  h.FileNameLength = static_cast<uint16_t>(name.size());
  uint8_t rec[TLocalFileHeader::kSize];
  h.Serialize(rec);
  Append(out, rec, sizeof rec);
  Append(out, name);
}

void AppendCentral(std::vector<uint8_t>& out, const std::string& name, uint32_t size, uint32_t offset) {
  TCentralFileHeader h;
  h.CompressedSize = h.UncompressedSize = size;
  h.FileNameLength = static_cast<uint16_t>(name.size());
  h.RelativeOffset = offset;
  uint8_t rec[TCentralFileHeader::kSize];
  h.Serialize(rec);
  Append(out, rec, sizeof rec);
  Append(out, name);
}

// A set of two disks as the spanning writer lays it out: the marker and
// "a.txt" on disk 1, "b.txt" starting there and running 40 bytes into disk
// 2, which holds the central directory and the end record.
constexpr int64_t kFirstLocal = 4;
constexpr int64_t kContinued = 40;

Disk Disk1() {
  Disk d{{}, "PKBACK# 001"};
  uint8_t marker[4];
  PutU32(marker, SPANNED_MARKER_SIGNATURE);
  Append(d.bytes, marker, 4);
  AppendLocal(d.bytes, "a.txt", 50);
  Append(d.bytes, std::string(50, 'A'));
  AppendLocal(d.bytes, "b.txt", 60);
  Append(d.bytes, std::string(60 - kContinued, 'b'));
  return d;
}

Disk Disk2() {
  Disk d{{}, "PKBACK# 002"};
  Append(d.bytes, std::string(kContinued, 'b'));
  AppendCentral(d.bytes, "a.txt", 50, kFirstLocal);
  AppendCentral(d.bytes, "b.txt", 60, kFirstLocal + 35 + 50);
  TEndOfCentralDir e;
  e.NumberOfThisDisk = e.DiskWithCentralDir = 1;
  e.EntriesOnThisDisk = e.TotalEntries = 2;
  e.CentralDirSize = static_cast<uint32_t>(d.bytes.size() - kContinued);
  e.CentralDirOffset = kContinued;
  uint8_t rec[TEndOfCentralDir::kSize];
  e.Serialize(rec);
  Append(d.bytes, rec, sizeof rec);
  return d;
}

// A set that fits on one disk.
Disk OnlyDisk() { return {test::zip::BuildZip(test::zip::ThreeEntries(), {}), "PKBACK# 001"}; }

struct ErrorRecord {
  std::string file, ext, volume;
  int code;
  friend bool operator==(const ErrorRecord&, const ErrorRecord&) = default;
};

class DiskSpann : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(tmp_ / "floppy");
    auto drive = std::make_unique<platform::FakeDriveProvider>(tmp_.str() + "floppy");
    drive_ = drive.get();
    previous_ = platform::SetDriveProvider(std::move(drive));
    c_.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string& v, int code) {
      errors_.push_back({f, e, v, code});
    };
    c_.OnGetZipLastDisk = [this](TObject* sender, bool& cancel) { Ask(sender, "last", cancel); };
    c_.OnGetZipFirstDisk = [this](TObject* sender, bool& cancel) { Ask(sender, "first", cancel); };
    c_.OnGetZipNextDisk = [this](TObject* sender, const std::string& volume, bool& cancel) {
      Ask(sender, "next " + volume, cancel);
    };
    obj_.Prepare(&c_);
  }
  void TearDown() override { platform::SetDriveProvider(std::move(previous_)); }

  std::string Archive() const { return tmp_.str() + "floppy/set.zip"; }

  void Insert(const Disk& d) {
    fs::remove(Archive());
    if (!d.bytes.empty()) test::WriteAll(Archive(), d.bytes);
    drive_->disk.label = d.label;
  }

  // Every question is recorded; the next disk of `answers` is inserted and
  // the question answered, or it is cancelled when none is left.
  void Ask(TObject* sender, const std::string& what, bool& cancel) {
    EXPECT_EQ(sender, &obj_);
    EXPECT_TRUE(cancel);
    asked_.push_back(what);
    if (answers_.empty()) return;
    Insert(answers_.front());
    answers_.erase(answers_.begin());
    cancel = false;
  }

  // Reads the last disk of the set in the drive.
  void OpenLastDisk(const Disk& last) {
    Insert(last);
    c_.SetArchiveFileName(Archive());
    ASSERT_TRUE(obj_.RequestDisk(stream_, 0));
    asked_.clear();
    errors_.clear();
  }

  test::TempFolder tmp_;
  platform::FakeDriveProvider* drive_ = nullptr;
  std::unique_ptr<platform::DriveProvider> previous_;
  TZipCommon c_;
  TDiskSpannObj obj_;
  std::unique_ptr<TStream32> stream_;
  std::vector<ErrorRecord> errors_;
  std::vector<std::string> asked_;
  std::vector<Disk> answers_;
};

TEST_F(DiskSpann, LastDiskInTheDriveAsksNothing) {
  bool other = false;
  c_.SetCancelFlag(&other);
  obj_.Prepare(&c_);
  EXPECT_NE(c_.CancelFlag(), &other);
  EXPECT_EQ(obj_.WantedDisk(), 0);

  const Disk last = Disk2();
  Insert(last);
  c_.SetArchiveFileName(Archive());
  ASSERT_TRUE(obj_.RequestDisk(stream_, 0));
  EXPECT_TRUE(asked_.empty());
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(c_.ArcType(), atZipDS);
  EXPECT_EQ(obj_.WantedDisk(), 1);
  EXPECT_EQ(c_.ArchiveSize(), static_cast<int64_t>(last.bytes.size()));
  ASSERT_NE(stream_, nullptr);
  EXPECT_EQ(stream_->Size(), static_cast<int64_t>(last.bytes.size()));
  EXPECT_FALSE(c_.Cancelled());
  EXPECT_FALSE(other);
}

TEST_F(DiskSpann, MissingEventFailsEvenWithTheRightDisk) {
  struct Case {
    uint16_t wanted;
    const char* event;
  } cases[] = {{0, "OnGetZipLastDisk"}, {1, "OnGetZipFirstDisk"}, {2, "OnGetZipNextDisk"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.event);
    TZipCommon c;
    std::vector<ErrorRecord> errors;
    c.OnError = [&](TObject*, const std::string& f, const std::string& e, const std::string& v, int code) {
      errors.push_back({f, e, v, code});
    };
    Insert(k.wanted == 2 ? Disk2() : Disk1());
    c.SetArchiveFileName(Archive());
    TDiskSpannObj obj;
    obj.Prepare(&c);
    obj.SetWantedDisk(k.wanted);
    std::unique_ptr<TStream32> stream = std::make_unique<TFileStream32>(Archive(), fmOpenRead);
    EXPECT_FALSE(obj.RequestDisk(stream, k.wanted == 2 ? kContinued : 0));
    EXPECT_EQ(stream, nullptr);
    // The report comes before the cancel flag is set, so it keeps its code.
    EXPECT_EQ(errors, (std::vector<ErrorRecord>{{"", k.event, c.VolumeName(), E_REQUIREDEVENT}}));
    EXPECT_TRUE(c.Cancelled());
  }
}

TEST_F(DiskSpann, LastDiskWithoutEndRecordIsAskedForAgain) {
  Insert(Disk1());
  c_.SetArchiveFileName(Archive());
  answers_ = {Disk1(), Disk1(), Disk2()};  // the same wrong disk twice, then the right one
  ASSERT_TRUE(obj_.RequestDisk(stream_, 0));
  EXPECT_EQ(asked_, (std::vector<std::string>{"last", "last", "last"}));
  EXPECT_EQ(obj_.WantedDisk(), 1);
  EXPECT_EQ(c_.ArcType(), atZipDS);
  EXPECT_TRUE(errors_.empty());

  // A cancelled question ends the request without a report of its own.
  obj_.Prepare(&c_);
  asked_.clear();
  Insert(Disk1());
  EXPECT_FALSE(obj_.RequestDisk(stream_, 0));
  EXPECT_EQ(asked_, std::vector<std::string>{"last"});
  EXPECT_TRUE(c_.Cancelled());
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(stream_, nullptr);
}

TEST_F(DiskSpann, LastDiskFoundUnderTheSameNameAfterAnEmptyDrive) {
  Insert(Disk2());
  c_.SetArchiveFileName(Archive());
  Insert(Disk{{}, "PKBACK# 001"});  // a disk without the archive file
  answers_ = {Disk2()};
  ASSERT_TRUE(obj_.RequestDisk(stream_, 0));
  EXPECT_EQ(asked_, std::vector<std::string>{"last"});
  EXPECT_EQ(c_.ArchiveFile(), Archive());
}

TEST_F(DiskSpann, SetOnOneDiskAsksNothing) {
  OpenLastDisk(OnlyDisk());
  EXPECT_EQ(c_.ArcType(), atZip);
  obj_.SetWantedDisk(0 + 1);  // the first entry's DiskNumberStart plus 1
  ASSERT_TRUE(obj_.RequestDisk(stream_, 0));
  EXPECT_TRUE(asked_.empty());
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(obj_.WantedDisk(), 2);
}

TEST_F(DiskSpann, DataRunningOverAsksForTheFollowingDisk) {
  OpenLastDisk(Disk2());
  obj_.SetWantedDisk(1);
  answers_ = {Disk1()};
  ASSERT_TRUE(obj_.RequestDisk(stream_, kFirstLocal));
  EXPECT_EQ(asked_, std::vector<std::string>{"first"});
  EXPECT_EQ(obj_.WantedDisk(), 2);
  EXPECT_EQ(c_.ArchiveSize(), static_cast<int64_t>(Disk1().bytes.size()));

  // b.txt has 40 bytes left on disk 2, behind which the directory begins.
  asked_.clear();
  answers_ = {Disk2()};
  ASSERT_TRUE(obj_.RequestDisk(stream_, kContinued));
  EXPECT_EQ(asked_, std::vector<std::string>{"next 2"});
  EXPECT_EQ(obj_.WantedDisk(), 3);
  ASSERT_NE(stream_, nullptr);
  std::string data(kContinued, '\0');
  EXPECT_EQ(stream_->Read(data.data(), kContinued), kContinued);
  EXPECT_EQ(data, std::string(kContinued, 'b'));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(DiskSpann, ShortFileIsToldByItsLabel) {
  struct Case {
    const char* what;
    std::string detectedLabel;  // the label when the last disk was read: it decides the type
    std::string label;          // the label of the disk in the drive at the check
    bool asked;
  } cases[] = {
      {"spanned set, wanted label", "PKBACK# 002", "PKBACK# 002", false},
      {"spanned set, other label", "PKBACK# 002", "PKBACK# 003", true},
      {"spanned set, unlabelled disk", "PKBACK# 002", "DATA", true},
      {"multi-volume set", "BACKUP", "BACKUP", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    obj_.Prepare(&c_);
    Disk last = Disk2();
    last.label = k.detectedLabel;
    OpenLastDisk(last);
    EXPECT_EQ(c_.ArcType(), k.detectedLabel == "BACKUP" ? atZipMV : atZipDS);
    drive_->disk.label = k.label;
    obj_.SetWantedDisk(2);
    // Past the end of the file: no signature can be looked at.
    EXPECT_EQ(obj_.RequestDisk(stream_, static_cast<int64_t>(last.bytes.size())), !k.asked);
    EXPECT_EQ(asked_.size(), k.asked ? 1u : 0u);
  }
}

TEST_F(DiskSpann, DiskWithoutTheArchiveIsReportedAndAskedForAgain) {
  OpenLastDisk(Disk2());
  obj_.SetWantedDisk(1);
  Insert(Disk{{}, "PKBACK# 001"});
  answers_ = {Disk{{}, "PKBACK# 001"}, Disk1()};
  ASSERT_TRUE(obj_.RequestDisk(stream_, kFirstLocal));
  EXPECT_EQ(asked_, (std::vector<std::string>{"first", "first"}));
  const ErrorRecord openError{"", "", c_.VolumeName(), E_FOPEN};
  EXPECT_EQ(errors_, (std::vector<ErrorRecord>{openError, openError}));
}

TEST_F(DiskSpann, HeaderEncryptedDisksPassOnlyByLabel) {
  test::zip::SynthOptions o;
  o.encryptHeaders = true;
  const Disk encrypted{test::zip::BuildZip(test::zip::ThreeEntries(), o), "PKBACK# 001"};
  OpenLastDisk(Disk2());
  obj_.SetWantedDisk(1);
  Insert(encrypted);
  EXPECT_FALSE(obj_.RequestDisk(stream_, 0));  // "PL" at the local header: refused, the question cancelled
  EXPECT_EQ(asked_, std::vector<std::string>{"first"});

  obj_.Prepare(&c_);
  OpenLastDisk(Disk2());
  obj_.SetWantedDisk(1);
  Insert(encrypted);
  EXPECT_TRUE(obj_.RequestDisk(stream_, static_cast<int64_t>(encrypted.bytes.size()) - 29));
  EXPECT_TRUE(asked_.empty());
}

TEST_F(DiskSpann, DriveCheckFailuresDoNotDecide) {
  OpenLastDisk(Disk2());
  obj_.SetWantedDisk(1);
  Insert(Disk1());
  drive_->disk.writeProtected = true;  // reading needs no writable disk
  ASSERT_TRUE(obj_.RequestDisk(stream_, kFirstLocal));
  EXPECT_TRUE(asked_.empty());
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].code, E_WRITEPROTECTED);
}

}  // namespace
}  // namespace tessavar
