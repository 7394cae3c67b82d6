#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/write/ztvStreams.h"
#include "platform/File.h"
#include "platform/Temp.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sample(size_t n) {
  Bytes b(n);
  uint32_t x = 7;
  for (auto& c : b) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return b;
}

class TestComponent : public TZipCommon {
 public:
  void SetRecordedArchiveSize(int64_t v) { archiveSize_ = v; }
};

struct ErrorRecord {
  std::string file, ext;
  int code;
};

// A component that records the temporary-file events and errors.
struct Recorder {
  TestComponent c;
  std::vector<ErrorRecord> errors;
  std::vector<std::pair<std::string, std::string>> begins;
  int ends = 0;
  std::vector<int> byFile;
  bool cancelOnBegin = false;
  std::function<void()> onBegin;
  std::function<void()> onProgress;

  Recorder() {
    c.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string&, int code) {
      errors.push_back({f, e, code});
    };
    c.OnTmpFileMoveBegin = [this](TObject*, const std::string& a, const std::string& t, bool& cancel) {
      begins.emplace_back(a, t);
      if (cancelOnBegin) cancel = true;
      if (onBegin) onBegin();
    };
    c.OnTmpFileMoveEnd = [this](TObject*) { ++ends; };
    c.OnTmpFileProgress = [this](TObject*, uint8_t f, uint8_t) {
      byFile.push_back(f);
      if (onProgress) onProgress();
    };
  }
};

struct SeamGuard {
  ~SeamGuard() {
    SetSameDriveDecision(nullptr);
    platform::SetWriteFault(nullptr);
  }
};

void ForceOtherFileSystem() {
  SetSameDriveDecision([](const std::string&, const std::string&) { return false; });
}

// Every file whose name starts with "ztv" in a folder.
std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("ztv", 0) == 0) out.push_back(e.path().string());
  return out;
}

class TempStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    archive = (tmp / "a.zip").string();
    test::WriteAll(archive, old);
    ASSERT_TRUE(platform::SetFileMode(archive, 0640));
    tempDir = (tmp / "temp" / "deeper").string() + "/";  // does not exist yet
  }
  // Writes `data` into a temporary archive for `archive` and finishes it.
  TTempMoveResult Build(Recorder& r, const Bytes& data, std::string* tempName = nullptr) {
    TTempFileStream s(&r.c, fmCreate, archive, tempDir);
    EXPECT_TRUE(s.Valid());
    EXPECT_EQ(s.TempName().rfind(tempDir + "ztv", 0), 0u) << s.TempName();
    EXPECT_EQ(s.Write(data.data(), static_cast<int64_t>(data.size())), static_cast<int64_t>(data.size()));
    if (tempName) *tempName = s.TempName();
    return s.Finish();
  }

  SeamGuard guard;
  test::TempFolder tmp;
  std::string archive, tempDir;
  const Bytes old = Sample(5000);
};

TEST_F(TempStreams, SameFileSystemRenamesOverTheArchive) {
  Recorder r;
  const Bytes data = Sample(250000);
  std::string temp;
  EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Moved);
  EXPECT_EQ(test::ReadAll(archive), data);
  EXPECT_EQ(platform::GetFileMode(archive), 0640);
  EXPECT_FALSE(fs::exists(temp));
  ASSERT_EQ(r.begins.size(), 1u);
  EXPECT_EQ(r.begins[0], std::make_pair(archive, temp));
  EXPECT_TRUE(r.byFile.empty());  // a rename, not a copy
  EXPECT_EQ(r.ends, 0);           // only for archives above 64 KiB
  EXPECT_TRUE(r.errors.empty());

  r.c.SetRecordedArchiveSize(70000);
  EXPECT_EQ(Build(r, old), TTempMoveResult::Moved);
  EXPECT_EQ(r.ends, 1);
}

TEST_F(TempStreams, NewArchiveGetsTheModeOfANewFile) {
  Recorder r;
  archive = (tmp / "new.zip").string();
  EXPECT_EQ(Build(r, old), TTempMoveResult::Moved);
  EXPECT_EQ(test::ReadAll(archive), old);
  EXPECT_EQ(platform::GetFileMode(archive), platform::NewFileMode());
}

TEST_F(TempStreams, CancelModeZeroAndBeginCancelLeaveTheArchive) {
  const Bytes data = Sample(1000);
  {  // cancelled run: discarded without asking
    Recorder r;
    r.c.SetCancelled(true);
    std::string temp;
    EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Cancelled);
    EXPECT_TRUE(r.begins.empty());
    EXPECT_FALSE(fs::exists(temp));
  }
  {  // nothing to do
    Recorder r;
    TTempFileStream s(&r.c, fmCreate, archive, tempDir);
    s.Write(data.data(), 1000);
    s.SetMode(0);
    EXPECT_EQ(s.Finish(), TTempMoveResult::NothingToDo);
    EXPECT_FALSE(fs::exists(s.TempName()));
    EXPECT_TRUE(r.begins.empty());
  }
  {  // the event says no
    Recorder r;
    r.cancelOnBegin = true;
    std::string temp;
    EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Cancelled);
    EXPECT_EQ(r.begins.size(), 1u);
    EXPECT_FALSE(fs::exists(temp));
  }
  EXPECT_EQ(test::ReadAll(archive), old);
}

TEST_F(TempStreams, AnExceptionPassingThroughDiscardsTheTemporary) {
  Recorder r;
  std::string temp;
  try {
    TTempFileStream s(&r.c, fmCreate, archive, tempDir);
    temp = s.TempName();
    s.Write("half an archive", 15);
    TTempMemStream m(&r.c, fmCreate, archive);
    m.Write("half", 4);
    throw E_RAISE("Disk full");
  } catch (const E_RAISE&) {
  }
  EXPECT_EQ(test::ReadAll(archive), old);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_TRUE(r.begins.empty());
}

TEST_F(TempStreams, OtherFileSystemCopiesNextToTheArchiveThenRenames) {
  ForceOtherFileSystem();
  Recorder r;
  const Bytes data = Sample(350000);
  std::string temp;
  // The copy must go through a temporary name beside the archive, never
  // into the archive itself.
  r.onProgress = [&] { EXPECT_EQ(test::ReadAll(archive), old); };
  EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Moved);
  EXPECT_EQ(test::ReadAll(archive), data);
  EXPECT_EQ(platform::GetFileMode(archive), 0640);
  EXPECT_EQ(r.byFile, (std::vector<int>{29, 57, 86, 100}));  // 100000-byte chunks
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_TRUE(Leftovers(tmp.path()).empty());
  EXPECT_TRUE(r.errors.empty());
}

TEST_F(TempStreams, RealSecondFileSystem) {
  std::error_code ec;
  if (!fs::is_directory("/dev/shm", ec) || platform::SameFileSystem("/dev/shm/", tmp.str()))
    GTEST_SKIP() << "/dev/shm is not a second file system here";
  const fs::path shm = fs::path("/dev/shm") / ("tessavar-test-" + std::to_string(std::random_device{}()));
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code e;
      fs::remove_all(p, e);
    }
  } remove{shm};
  tempDir = shm.string() + "/";
  Recorder r;
  const Bytes data = Sample(150000);
  std::string temp;
  EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Moved);
  EXPECT_EQ(test::ReadAll(archive), data);
  EXPECT_EQ(platform::GetFileMode(archive), 0640);
  EXPECT_EQ(r.byFile.size(), 2u);  // copied, not renamed
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_TRUE(Leftovers(tmp.path()).empty());
}

struct FaultCase {
  int error;
  int64_t allowed;  // bytes a write may still put down
  int code;
};

class CopyFault : public TempStreams, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CopyFault, LeavesTheOldArchiveIntactAndKeepsTheTemporary) {
  const FaultCase fc = GetParam();
  ForceOtherFileSystem();
  Recorder r;
  // Only the copy into place fails: the fault starts when the move begins.
  r.onBegin = [&] {
    int64_t budget = 150000;
    platform::SetWriteFault([budget, fc](platform::FileHandle, int64_t count, int& error) mutable -> int64_t {
      if (count <= budget) {
        budget -= count;
        return -1;
      }
      error = fc.error;
      return fc.allowed;
    });
  };
  const Bytes data = Sample(400000);
  std::string temp;
  EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Failed);
  platform::SetWriteFault(nullptr);

  EXPECT_EQ(test::ReadAll(archive), old);  // byte for byte
  EXPECT_EQ(platform::GetFileMode(archive), 0640);
  EXPECT_EQ(test::ReadAll(temp), data);  // nothing is lost
  EXPECT_TRUE(Leftovers(tmp.path()).empty());  // the partial copy is gone
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].code, fc.code);
  EXPECT_EQ(r.errors[0].file, archive);
  EXPECT_EQ(r.errors[0].ext, temp);
}

INSTANTIATE_TEST_SUITE_P(Faults, CopyFault,
                         ::testing::Values(FaultCase{ENOSPC, 0, E_DISKFULL}, FaultCase{EDQUOT, 4000, E_DISKFULL},
                                           FaultCase{EIO, 0, E_FWRITE}, FaultCase{EIO, 99999, E_FWRITE}));

TEST_F(TempStreams, CancelDuringTheCopyLeavesTheOldArchive) {
  ForceOtherFileSystem();
  Recorder r;
  r.onProgress = [&] { *r.c.CancelFlag() = true; };
  const Bytes data = Sample(350000);
  std::string temp;
  EXPECT_EQ(Build(r, data, &temp), TTempMoveResult::Failed);
  EXPECT_EQ(r.byFile.size(), 1u);
  EXPECT_EQ(test::ReadAll(archive), old);
  EXPECT_EQ(test::ReadAll(temp), data);
  EXPECT_TRUE(Leftovers(tmp.path()).empty());
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].code, E_USERCANCEL);
}

TEST_F(TempStreams, FailedRenameKeepsTheTemporary) {
  Recorder r;
  archive = (tmp / "dir.zip").string();  // a folder with content cannot be replaced
  fs::create_directories(tmp / "dir.zip" / "x");
  std::string temp;
  EXPECT_EQ(Build(r, old, &temp), TTempMoveResult::Failed);
  EXPECT_EQ(test::ReadAll(temp), old);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].code, E_FWRITE);
  EXPECT_TRUE(fs::is_directory(tmp / "dir.zip" / "x"));
}

TEST_F(TempStreams, MemoryTemporaryWritesTheArchiveThroughACopy) {
  const Bytes data = Sample(250000);
  {
    Recorder r;
    {
      TTempMemStream m(&r.c, fmCreate, archive);
      m.Write(data.data(), static_cast<int64_t>(data.size()));
      r.onBegin = [&] { EXPECT_EQ(test::ReadAll(archive), old); };
    }
    EXPECT_EQ(test::ReadAll(archive), data);
    EXPECT_EQ(platform::GetFileMode(archive), 0640);
    ASSERT_EQ(r.begins.size(), 1u);
    EXPECT_EQ(r.begins[0].second, "NoName");
    EXPECT_EQ(r.ends, 1);  // always, for the memory temporary
    EXPECT_EQ(r.byFile.back(), 100);
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
  }
  {  // cancelled: nothing written, no events
    Recorder r;
    TTempMemStream m(&r.c, fmCreate, archive);
    m.Write(old.data(), 100);
    r.c.SetCancelled(true);
    EXPECT_EQ(m.Finish(), TTempMoveResult::Cancelled);
    EXPECT_TRUE(r.begins.empty());
    EXPECT_EQ(r.ends, 0);
  }
  {  // a full disk leaves the archive as it was
    SeamGuard g;
    Recorder r;
    TTempMemStream m(&r.c, fmCreate, archive);
    m.Write(old.data(), static_cast<int64_t>(old.size()));
    platform::SetWriteFault([](platform::FileHandle, int64_t, int& error) -> int64_t {
      error = ENOSPC;
      return 10;
    });
    EXPECT_EQ(m.Finish(), TTempMoveResult::Failed);
    platform::SetWriteFault(nullptr);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].code, E_DISKFULL);
    EXPECT_EQ(r.ends, 1);
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
  }
  EXPECT_EQ(test::ReadAll(archive), data);
}

TEST_F(TempStreams, PlainTemporaryFileReportsReadsWhileBytesRemain) {
  Recorder r;
  {
    TTempFileStream s(&r.c, fmShareDenyWrite, archive);
    ASSERT_TRUE(s.Valid());
    EXPECT_FALSE(s.IsTempArchive());
    r.c.SetBytesRemaining(3000);
    char buf[2000];
    EXPECT_EQ(s.Read(buf, 2000), 2000);
    EXPECT_EQ(r.c.BytesRemaining(), 1000);
    EXPECT_EQ(s.Read(buf, 2000), 2000);
    EXPECT_EQ(r.c.BytesRemaining(), -1000);
    EXPECT_EQ(s.Read(buf, 2000), 1000);  // nothing left to count: no progress step
    EXPECT_EQ(r.c.BytesRemaining(), -1000);
    EXPECT_EQ(r.byFile.size(), 2u);
  }
  EXPECT_EQ(test::ReadAll(archive), old);
  EXPECT_TRUE(r.begins.empty());
}

TEST(MakeTempFileName, CreatesMissingFoldersAndFallsBackToTheSystemFolder) {
  test::TempFolder tmp;
  const std::string dir = tmp.str() + "a/b/c/";
  const std::string name = MakeTempFileName(dir);
  EXPECT_EQ(name.rfind(dir + "ztv", 0), 0u);
  EXPECT_TRUE(fs::is_regular_file(name));
  EXPECT_EQ(fs::file_size(name), 0u);

  const std::string sys = MakeTempFileName("");
  EXPECT_EQ(sys.rfind(platform::SystemTempDir() + "ztv", 0), 0u);
  fs::remove(sys);
}

}  // namespace
}  // namespace tessavar
