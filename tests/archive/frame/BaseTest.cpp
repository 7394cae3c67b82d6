#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/frame/ztvBase.h"
#include "platform/Dialogs.h"
#include "platform/File.h"
#include "platform/Shell.h"
#include "platform/Temp.h"
#include "platform/Time.h"

namespace tessavar {
namespace {

// Opens the protected run protocol to the tests.
class TestComponent : public TZipCommon {
 public:
  using TZipCommon::TZipCommon;
  int Run(const std::function<void()>& work, bool restore = true) { return RunOperation(work, restore); }
  void SetCount(int n) { count_ = n; }
  void SetArchiveName(const std::string& n) { archiveFile_ = n; }
};

struct ErrorRecord {
  std::string file, ext, volume;
  int code;
};

TEST(ZipCommon, StartValues) {
  TestComponent c;
  EXPECT_EQ(c.ArcType(), atNA);
  EXPECT_EQ(c.StartOffset(), -1);
  EXPECT_FALSE(c.RecurseDirs());
  EXPECT_FALSE(c.IncludeHiddenDirs());
  EXPECT_EQ(c.Attributes().Bits(), 0x1C3);
  EXPECT_TRUE(c.AttributesEx().Empty());
  EXPECT_EQ(c.PasswordAttempts(), 3);
  EXPECT_EQ(c.EncryptionMethod(), emNone);
  EXPECT_TRUE(c.UseStoredDirs());
  EXPECT_EQ(c.StoredDirNames(), sdRelative);
  EXPECT_EQ(c.OverwriteMode(), omOverwrite);
  EXPECT_FALSE(c.ConfirmOverwrites());
  EXPECT_EQ(c.DateAttribute(), daFileDate);
  EXPECT_EQ(c.DeleteOptions(), doAllowUndo);
  EXPECT_EQ(c.CompressionMethod(), cmTempFile);
  EXPECT_FALSE(c.AsciiTranslation());
  EXPECT_TRUE(c.TranslateOemChar());
  EXPECT_FALSE(c.EncryptHeaders());
  EXPECT_EQ(c.ExtractDir(), "");
  EXPECT_EQ(c.SeedDataKeys().Keys(), (TSeedKeyValues{0, 0, 0}));
  EXPECT_EQ(c.SeedHeaderKeys().Keys(), kDefaultHeaderSeed);
  EXPECT_FALSE(c.Cancelled());
}

TEST(ZipCommon, CommentBufferSizeIsClamped) {
  TestComponent c;
  c.SetZipCmntBufSize(100);
  EXPECT_EQ(c.ZipCmntBufSize(), 2000);
  c.SetZipCmntBufSize(100000);
  EXPECT_EQ(c.ZipCmntBufSize(), 32767);
  c.SetZipCmntBufSize(32000);
  EXPECT_EQ(c.ZipCmntBufSize(), 32000);
}

TEST(ZipCommon, ListSettersCopy) {
  TestComponent c;
  TStrings spec{"*.txt"};
  c.SetFileSpec(spec);
  spec.push_back("*.doc");
  EXPECT_EQ(c.FileSpec().size(), 1u);
}

TEST(ErrorDelivery, ReportErrorPassesTheFiveValuesAndNeverThrows) {
  TestComponent c;
  TestComponent silent;
  EXPECT_NO_THROW(silent.ReportError("a", "b", "0", 25235));
  std::vector<ErrorRecord> got;
  TObject* sender = nullptr;
  c.OnError = [&](TObject* s, const std::string& f, const std::string& e, const std::string& v, int code) {
    sender = s;
    got.push_back({f, e, v, code});
  };
  c.ReportError("f.txt", "OnRead", "0", 25270);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(sender, &c);
  EXPECT_EQ(got[0].file, "f.txt");
  EXPECT_EQ(got[0].ext, "OnRead");
  EXPECT_EQ(got[0].volume, "0");
  EXPECT_EQ(got[0].code, 25270);
}

TEST(ErrorDelivery, CancelTurnsEveryCodeIntoUserCanceled) {
  TestComponent c;
  std::vector<int> codes;
  c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    codes.push_back(code);
  };
  c.SetCancelled(true);  // reports 25443 itself
  EXPECT_TRUE(c.Cancelled());
  c.ReportError("x", "", "0", 25235);
  EXPECT_NO_THROW(c.RaiseFatal("x", "", "0", 25192));
  EXPECT_EQ(codes, (std::vector<int>{25443, 25443, 25443}));
}

TEST(ErrorDelivery, RaiseFatalThrowsTheTableText) {
  TestComponent c;
  try {
    c.RaiseFatal("f", "", "0", 25192);
    FAIL() << "no exception";
  } catch (const E_RAISE& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  // A code outside the table still ends the operation, with an empty text.
  try {
    c.RaiseFatal("f", "", "0", 25100);
    FAIL() << "no exception";
  } catch (const E_RAISE& e) {
    EXPECT_STREQ(e.what(), "");
  }
  int seen = 0;
  c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) { seen = code; };
  EXPECT_THROW(c.RaiseFatal("f", "", "0", 25160), E_RAISE);
  EXPECT_EQ(seen, 25160);
}

TEST(ErrorDelivery, CancelFlagCanBeShared) {
  TestComponent c;
  bool external = false;
  c.SetCancelFlag(&external);
  external = true;
  EXPECT_TRUE(c.Cancelled());
  c.SetCancelFlag(nullptr);
  EXPECT_FALSE(c.Cancelled());
}

TEST(Progress, PercentRoundsHalvesToEven) {
  struct Case {
    int64_t total, part;
    int want;
  } cases[] = {{0, 5, 0}, {-3, 1, 0}, {200, 1, 0}, {200, 3, 2}, {200, 5, 2}, {200, 7, 4},
               {10, 20, 100}, {10, -5, 0}, {3, 1, 33}, {3, 2, 67}, {1000, 1000, 100},
               {int64_t(1) << 40, int64_t(1) << 39, 50}};
  for (const auto& c : cases) EXPECT_EQ(Percent(c.total, c.part), c.want) << c.total << "/" << c.part;
}

TEST(Progress, ReportsFileAndArchivePercentagesAndSwallowsHandlerFailures) {
  TestComponent c;
  std::vector<std::pair<int, int>> seen;
  c.OnProgress = [&](TObject*, uint8_t f, uint8_t a) {
    seen.emplace_back(f, a);
    throw std::runtime_error("handler failed");
  };
  c.SetBytesRemaining(750);
  EXPECT_NO_THROW(c.ReportProgress(1000, 400, 100));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::pair<int, int>{25, 25}));
  EXPECT_EQ(c.LastByFile(), 25);
  EXPECT_EQ(c.LastByArchive(), 25);
}

TEST(RunProtocol, EventsInOrderAndFailuresStayInside) {
  TestComponent c;
  std::vector<std::string> log;
  c.OnActivate = [&](TObject*) { log.push_back("activate"); };
  c.OnDeactivate = [&](TObject*) { log.push_back("deactivate"); };
  c.OnElapsedTime = [&](TObject*, float t) {
    EXPECT_GE(t, 0.0f);
    log.push_back("elapsed");
  };
  c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    log.push_back("error " + std::to_string(code));
  };
  c.SetArchiveName("/data/a.zip");
  int n = c.Run([&] {
    EXPECT_FALSE(c.Cancelled());
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(c.VolumeNum(), -1);
    EXPECT_EQ(c.VolumeName(), "/data/a.zip");
    log.push_back("work");
    c.SetCount(2);
    c.SetArchiveName("/data/a.z01");  // a multi-volume run moves on
    c.RaiseFatal("f", "", "0", 25160);
    log.push_back("not reached");
  });
  EXPECT_EQ(n, 2);
  EXPECT_EQ(log, (std::vector<std::string>{"activate", "work", "error 25160", "elapsed", "deactivate"}));
  EXPECT_EQ(c.ArchiveFile(), "/data/a.zip");
}

TEST(RunProtocol, ARunResetsTheCancelFlagAndAHandlerExceptionEndsOnlyTheRun) {
  TestComponent c;
  c.SetCancelled(true);
  bool deactivated = false;
  c.OnDeactivate = [&](TObject*) { deactivated = true; };
  int n = c.Run([&] {
    EXPECT_FALSE(c.Cancelled());
    c.SetCount(1);
    throw std::logic_error("handler went wrong");
  });
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(deactivated);
}

TEST(Dates, DosDateToDateTime) {
  TestComponent c;
  const double jan1980 = 29221.0 + 1.0 / 1440.0;  // 0x00210020 is 00:01
  EXPECT_DOUBLE_EQ(c.DosDateToDateTime(0), jan1980);
  EXPECT_DOUBLE_EQ(c.DosDateToDateTime(0x00210020 - 1), jan1980);
  EXPECT_DOUBLE_EQ(c.DosDateToDateTime(0x00210020), jan1980);
  // 2044 and later have the top bit set and count as before 1980.
  EXPECT_DOUBLE_EQ(c.DosDateToDateTime((64u << 25) | (1u << 21) | (1u << 16)), jan1980);
  // 13th month: invalid, one minute past the start of 1980.
  EXPECT_NEAR(c.DosDateToDateTime((20u << 25) | (13u << 21) | (1u << 16)), 29221.000694, 1e-6);
  // 2024-05-01 12:30:00
  uint32_t dos = (44u << 25) | (5u << 21) | (1u << 16) | (12u << 11) | (30u << 5);
  auto parts = platform::DecodeDateTime(c.DosDateToDateTime(dos));
  EXPECT_EQ(parts.year, 2024);
  EXPECT_EQ(parts.month, 5);
  EXPECT_EQ(parts.day, 1);
  EXPECT_EQ(parts.hour, 12);
  EXPECT_EQ(parts.minute, 30);
}

TEST(Dates, FileDateForFollowsDateAttribute) {
  TestComponent c;
  const uint32_t older = (40u << 25) | (1u << 21) | (1u << 16);
  const uint32_t newer = (44u << 25) | (1u << 21) | (1u << 16);
  EXPECT_EQ(c.FileDateFor(newer), newer);
  c.SetDateAttribute(daMaxFileDate);
  EXPECT_EQ(c.FileDateFor(older), newer);
  c.SetDateAttribute(daSysDate);
  uint32_t now = platform::NowDosDateTime();
  uint32_t got = c.FileDateFor(older);
  EXPECT_GE(got, now);
  EXPECT_LE(got, now + 4);  // two-second steps, allow a tick over
}

TEST(Exclusion, MasksAndPathPatterns) {
  struct Case {
    TStrings spec;
    bool recurse;
    const char* folder;
    const char* name;
    uint32_t attr;
    bool excluded;
  } cases[] = {
      {{"*.tmp"}, false, "/home/u/", "a.TMP", 0x20, true},
      {{"*.tmp"}, false, "/home/u/", "a.txt", 0x20, false},
      {{"*.tmp", "*.bak"}, false, "/home/u/", "a.bak", 0x20, true},
      // A path pattern's folder must end the candidate's folder...
      {{"build/*.o"}, false, "/src/build/", "x.o", 0x20, true},
      {{"build/*.o"}, false, "/src/build/sub/", "x.o", 0x20, false},
      // ...or, with recursion, occur anywhere in it.
      {{"build/*.o"}, true, "/src/build/sub/", "x.o", 0x20, true},
      {{"build/*.o"}, true, "/src/rebuild/", "x.o", 0x20, false},
      {{"Build/*.o"}, false, "/SRC/BUILD/", "x.o", 0x20, true},
      {{"/src/*.c"}, false, "/src/", "m.c", 0x20, true},
      {{"/src/*.c"}, false, "/other/src/", "m.c", 0x20, true},
      {{"build/*.o"}, false, "/src/build/", "x.c", 0x20, false},
      // A folder in a matching folder is excluded whatever its name.
      {{"build/*.o"}, false, "/src/build/", "sub", 0x10, true},
      {{}, true, "/src/", "a.c", 0x20, false},
  };
  for (const auto& k : cases) {
    TestComponent c;
    c.SetExcludeSpec(k.spec);
    c.SetRecurseDirs(k.recurse);
    EXPECT_EQ(c.IsExcluded(k.folder, k.name, k.attr), k.excluded)
        << (k.spec.empty() ? "" : k.spec[0]) << " " << k.folder << k.name;
  }
}

TEST(Names, FileTypeNameFallsBackToTheExtension) {
  TestComponent c;
  EXPECT_EQ(c.GetFileTypeName("notes.txt"), "TXT File");
  EXPECT_EQ(c.GetFileTypeName("/a.b/archive.tar.gz"), "GZ File");
  EXPECT_EQ(c.GetFileTypeName("README"), "File");
  EXPECT_EQ(c.GetFileTypeName("/a.b/README"), "File");
  auto old = platform::SetShellTypeNameProvider([](const std::string& n) {
    return n == "x.png" ? std::string("PNG image") : std::string();
  });
  EXPECT_EQ(c.GetFileTypeName("x.png"), "PNG image");
  EXPECT_EQ(c.GetFileTypeName("x.jpg"), "JPG File");
  platform::SetShellTypeNameProvider(old);
}

TEST(Folders, TempDirFallsBackAndAsksBeforeCreating) {
  test::TempFolder tmp;
  TestComponent c;
  EXPECT_EQ(c.TempDir(), platform::SystemTempDir());

  c.BeginLoading();
  c.SetTempDir("/no/such/folder/from/another/machine");
  c.EndLoading();
  EXPECT_EQ(c.TempDir(), platform::SystemTempDir());

  std::string asked;
  auto old = platform::SetMessageBoxHook(
      [&](const std::string&, const std::string& text, platform::MsgKind, platform::MsgButtons b) {
        asked = text;
        EXPECT_EQ(b, platform::MsgButtons::YesNo);
        return platform::MsgResult::Yes;
      });
  const std::string wanted = tmp.str() + "a/b";
  c.SetTempDir(wanted);
  EXPECT_EQ(asked, wanted + "/\n\nDirectory does not exist... Create?");
  EXPECT_TRUE(std::filesystem::is_directory(wanted));
  EXPECT_EQ(c.TempDir(), wanted + "/");

  // Without a user interface the answer is No: nothing is created.
  platform::SetMessageBoxHook(nullptr);
  c.SetTempDir(tmp.str() + "c");
  EXPECT_FALSE(std::filesystem::exists(tmp / "c"));
  EXPECT_EQ(c.TempDir(), platform::SystemTempDir());
  platform::SetMessageBoxHook(old);
}

TEST(Folders, ExtractDirGetsATrailingSeparatorOrTheArchiveFolder) {
  TestComponent c;
  c.SetExtractDir("/out");
  EXPECT_EQ(c.ExtractDir(), "/out/");
  c.SetExtractDir("/out/");
  EXPECT_EQ(c.ExtractDir(), "/out/");
  c.SetExtractDir("");
  EXPECT_EQ(c.ExtractDir(), "");
  c.SetArchiveName("/data/arc/a.zip");
  c.SetExtractDir("");
  EXPECT_EQ(c.ExtractDir(), "/data/arc/");
}

TEST(Folders, OutputPaths) {
  struct Case {
    bool useStoredDirs;
    const char* stored;
    const char* want;  // "" when the name is refused
  } cases[] = {
      {true, "\\a\\b.txt", "/x/a/b.txt"},
      {true, "a\\b.txt", "/x/a/b.txt"},
      {true, "/a/b.txt", "/x/a/b.txt"},
      {true, "a/b.txt", "/x/a/b.txt"},
      {false, "\\a\\b.txt", "/x/b.txt"},
      {false, "a\\b.txt", "/x/b.txt"},
      {true, "C:\\dir\\f.txt", "/x/dir/f.txt"},
      {true, "C:dir\\f.txt", "/x/dir/f.txt"},
      {true, "./a/./b.txt", "/x/a/b.txt"},
      {true, "a//b.txt", "/x/a/b.txt"},
      {true, "dir/", "/x/dir/"},
      {true, "../evil.txt", ""},
      {true, "a/../../evil.txt", ""},
      {false, "..\\evil.txt", ""},
      {true, "..foo/bar..", "/x/..foo/bar.."},
  };
  for (const auto& k : cases) {
    TestComponent c;
    c.SetExtractDir("/x");
    c.SetUseStoredDirs(k.useStoredDirs);
    c.SetFileName(k.stored);
    EXPECT_EQ(c.FileName(), k.want) << k.stored;
    EXPECT_EQ(c.FileNameRefused(), std::string(k.want).empty()) << k.stored;
  }
  TestComponent c;
  c.SetFileName("");
  EXPECT_EQ(c.FileName(), "");
  // Without ExtractDir the archive's folder is the destination.
  c.SetArchiveName("/data/a.zip");
  c.SetFileName("f.txt");
  EXPECT_EQ(c.FileName(), "/data/f.txt");
  // A relative destination is taken from the current folder.
  TestComponent r;
  r.SetExtractDir("out");
  r.SetFileName("f.txt");
  EXPECT_EQ(r.FileName(), platform::CurrentDir() + "out/f.txt");
}

TEST(ArchiveFile, MissingFileGivesNoType) {
  test::TempFolder tmp;
  TestComponent c;
  c.SetArchiveFileName(tmp.str() + "missing.zip");
  EXPECT_EQ(c.ArcType(), atNA);
  EXPECT_EQ(c.ArchiveFile(), "");
  test::WriteAll(tmp / "short.bin", std::string("tiny"));
  c.SetArchiveFileName(tmp.str() + "short.bin");
  EXPECT_EQ(c.ArchiveFile(), tmp.str() + "short.bin");
  EXPECT_EQ(c.ArcType(), atNA);
}

TEST(Timer, StopMeasuresAndPauseIsLeftOut) {
  TZipTimer t;
  t.Stop();  // not running: nothing happens
  EXPECT_FALSE(t.Running());
  EXPECT_EQ(t.ElapsedTime(), 0.0f);
  t.Start();
  EXPECT_TRUE(t.Running());
  t.Pause();
  t.Resume();
  t.Stop();
  EXPECT_FALSE(t.Running());
  EXPECT_GE(t.ElapsedTime(), 0.0f);
  EXPECT_LT(t.ElapsedTime(), 5.0f);
}

TEST(SeedKeys, HeaderKindReloadsTheDefaults) {
  TSeedKeyValues keys{1, 2, 3};
  HeaderSeed() = TSeedKeyValues{9, 9, 9};
  TSeedKeys header(TSeedKeyKind::Header, keys);
  EXPECT_EQ(keys, kDefaultHeaderSeed);
  EXPECT_EQ(HeaderSeed(), kDefaultHeaderSeed);
  header.SetKey1(77);
  EXPECT_EQ(keys.Key1, 77u);
  TSeedKeyValues data{};
  TSeedKeys d(TSeedKeyKind::Data, data);
  EXPECT_EQ(d.Key0(), 0u);
  EXPECT_EQ(DataSeed(), kDefaultDataSeed);
}

}  // namespace
}  // namespace tessavar
