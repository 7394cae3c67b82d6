#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"
#include "platform/Drive.h"

namespace fs = std::filesystem;

namespace tessavar::platform {
namespace {

using test::TempFolder;
using test::WriteAll;

// Installs a fake drive for one test and puts the previous provider back.
class FakeDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(tmp_ / "floppy");
    auto fake = std::make_unique<FakeDriveProvider>(tmp_.str() + "floppy");
    fake_ = fake.get();
    previous_ = SetDriveProvider(std::move(fake));
  }
  void TearDown() override { SetDriveProvider(std::move(previous_)); }

  TempFolder tmp_;
  FakeDriveProvider* fake_ = nullptr;
  std::unique_ptr<DriveProvider> previous_;
};

TEST_F(FakeDrive, PathsBelowTheRootAreOnIt) {
  const std::string root = tmp_.str() + "floppy/";
  EXPECT_EQ(fake_->Root(), root);
  EXPECT_EQ(&Drives(), fake_);
  for (const std::string& p : {root, tmp_.str() + "floppy", root + "set.zip", root + "not/yet/there.z01"}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(Drives().RootOf(p), root);
    EXPECT_EQ(Drives().TypeOf(p), DriveType::Removable);
  }
  // A neighbour whose name merely starts the same is elsewhere.
  fs::create_directory(tmp_ / "floppy2");
  for (const std::string& p : {tmp_.str() + "floppy2/x", tmp_.str()}) {
    SCOPED_TRACE(p);
    EXPECT_NE(Drives().RootOf(p), root);
    EXPECT_EQ(Drives().RootOf(p), RealDriveProvider().RootOf(p));
  }
}

TEST_F(FakeDrive, DiskCanBeSwappedAtAnyTime) {
  const std::string file = tmp_.str() + "floppy/set.zip";
  fake_->disk.label = "DISK1";
  fake_->disk.serial = 0x1234ABCD;

  std::string label;
  uint32_t serial = 0;
  ASSERT_TRUE(Drives().VolumeInfo(file, label, serial));
  EXPECT_EQ(label, "DISK1");
  EXPECT_EQ(serial, 0x1234ABCDu);

  EXPECT_TRUE(Drives().SetVolumeLabel(file, "PKBACK# 002"));
  EXPECT_EQ(fake_->disk.label, "PKBACK# 002");

  EXPECT_EQ(Drives().FileSystemName(file), "vfat");

  fake_->disk.present = false;  // the user takes the disk out
  EXPECT_FALSE(Drives().DiskPresent(file));
  EXPECT_EQ(Drives().FileSystemName(file), "");
  EXPECT_FALSE(Drives().VolumeInfo(file, label, serial));
  EXPECT_FALSE(Drives().SetVolumeLabel(file, "X"));
  int64_t freeBytes = 0, total = 0;
  EXPECT_FALSE(Drives().FreeSpace(file, freeBytes, total));

  fake_->disk = FakeDriveProvider::Disk{"DISK2", 0x55AA0001, 2000, true, true};  // and puts another in
  EXPECT_TRUE(Drives().DiskPresent(file));
  ASSERT_TRUE(Drives().VolumeInfo(file, label, serial));
  EXPECT_EQ(label, "DISK2");
  EXPECT_EQ(serial, 0x55AA0001u);
  EXPECT_TRUE(Drives().WriteProtected(file));
  EXPECT_FALSE(Drives().SetVolumeLabel(file, "X"));
  EXPECT_EQ(fake_->disk.label, "DISK2");
}

TEST_F(FakeDrive, FreeSpaceIsCapacityLessTheFilesBelowRoot) {
  const fs::path root = tmp_ / "floppy";
  int64_t freeBytes = -1, total = -1;
  ASSERT_TRUE(Drives().FreeSpace(root.string(), freeBytes, total));
  EXPECT_EQ(total, 1457664);
  EXPECT_EQ(freeBytes, 1457664);

  WriteAll(root / "a.zip", std::string(1000, 'a'));
  fs::create_directories(root / "sub" / "deeper");
  WriteAll(root / "sub" / "deeper" / "b", std::string(457664, 'b'));
  fs::create_symlink(root / "a.zip", root / "alias");  // a link takes no room
  WriteAll(tmp_ / "outside", std::string(5000, 'o'));  // nor does a file elsewhere
  ASSERT_TRUE(Drives().FreeSpace(root.string() + "/a.zip", freeBytes, total));
  EXPECT_EQ(freeBytes, 1457664 - 1000 - 457664);

  fake_->disk.capacity = 100;  // overfull: nothing left, never negative
  ASSERT_TRUE(Drives().FreeSpace(root.string(), freeBytes, total));
  EXPECT_EQ(freeBytes, 0);
  EXPECT_EQ(total, 100);
}

TEST(Drives, RemovingTheProviderRestoresTheRealOne) {
  auto previous = SetDriveProvider(std::make_unique<FakeDriveProvider>("/nowhere"));
  auto fake = SetDriveProvider(nullptr);
  ASSERT_NE(fake, nullptr);
  EXPECT_NE(dynamic_cast<FakeDriveProvider*>(fake.get()), nullptr);
  EXPECT_NE(dynamic_cast<RealDriveProvider*>(&Drives()), nullptr);
  SetDriveProvider(std::move(previous));
}

TEST(RealDrive, Smoke) {
  RealDriveProvider real;
  const std::string root = real.RootOf("/tmp");
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.front(), '/');
  EXPECT_EQ(root.back(), '/');
  EXPECT_EQ(real.RootOf("/tmp/surely/not/there/file.zip"), root);
  EXPECT_EQ(real.RootOf("/"), "/");
  EXPECT_EQ(std::string("/tmp/").compare(0, root.size(), root), 0) << root;

  EXPECT_TRUE(real.DiskPresent("/tmp"));
  EXPECT_FALSE(real.WriteProtected("/tmp"));
  int64_t freeBytes = 0, total = 0;
  ASSERT_TRUE(real.FreeSpace("/tmp", freeBytes, total));
  EXPECT_GT(freeBytes, 0);
  EXPECT_GE(total, freeBytes);
  std::string label = "unset";
  uint32_t serial = 0;
  EXPECT_TRUE(real.VolumeInfo("/tmp", label, serial));
  EXPECT_FALSE(real.SetVolumeLabel("/tmp", "NEW"));
  EXPECT_NE(real.TypeOf("/tmp"), DriveType::Unknown);
  EXPECT_EQ(real.TypeOf(""), DriveType::NoRootDir);

  if (fs::is_directory("/proc/self")) {
    EXPECT_EQ(real.RootOf("/proc/self/fd"), "/proc/");
    EXPECT_EQ(real.FileSystemName("/proc/self/fd"), "proc");
  }
  EXPECT_FALSE(real.FileSystemName("/tmp").empty());
}

}  // namespace
}  // namespace tessavar::platform
