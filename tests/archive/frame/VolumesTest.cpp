#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvVolumes.h"
#include "platform/File.h"

namespace tessavar {
namespace {

class VolumeComponent : public TZipCommon {
 public:
  void Prepare(const std::string& archive, TArcType type, char letter, int number) {
    archiveFile_ = archive;
    arcType_ = type;
    volumeLetter_ = letter;
    volumeNum_ = number;
  }
  char Letter() const { return volumeLetter_; }
  void SetLocalOnly() {
    zip_.FoundHeaders.Clear();
    zip_.FoundHeaders.Include(htLocal);
  }
};

TEST(VolumeNames, SplitZip) {
  VolumeComponent c;
  c.Prepare("/d/set.zip", atZipMV, 0, 0);
  EXPECT_EQ(c.SplitZipVolumeName(4, 10), "/d/set.z05");
  EXPECT_EQ(c.SplitZipVolumeName(119, 200), "/d/set.z120");
  EXPECT_EQ(c.SplitZipVolumeName(0, 3), "/d/set.z01");
  EXPECT_EQ(c.SplitZipVolumeName(2, 3), "/d/set.zip");  // the last part keeps the name
}

TEST(VolumeNames, OtherTypes) {
  struct Case {
    TArcType type;
    char letter;
    const char* name;
    int index;
    const char* want;
    char letterAfter;
  } cases[] = {
      {atArj, 'a', "/d/set.arj", 1, "/d/set.a01", 'a'},
      {atArj, 'a', "/d/set.a01", 2, "/d/set.a02", 'a'},
      {atArj, 'a', "/d/set.a99", 123, "/d/set.123", 'a'},
      {atRar, 'q', "/d/set.rar", 0, "/d/set.r00", 'r'},
      {atRar, 'r', "/d/set.r05", 6, "/d/set.r06", 'r'},
      {atRar, 'r', "/d/set.r99", 100, "/d/set.s00", 's'},
      {atRar, 'q', "/d/set.part1.rar", 0, "/d/set.part2.rar", 'q'},
      {atRar, 'q', "/d/set.part01.rar", 9, "/d/set.part11.rar", 'q'},
      {atRar, 'q', "/d/set.PART009.rar", 998, "/d/set.part1000.rar", 'q'},
      {atRar, 'q', "/d/set.partx.rar", 3, "/d/set.partx.q03", 'q'},
      {atAce, 'C', "/d/set.ace", 0, "/d/set.C00", 'C'},
      {atAce, 'c', "/d/set.c00", 1, "/d/set.c01", 'c'},
      {atJar, 'j', "/d/dir.v2/set", 12, "/d/dir.v2/set.j12", 'j'},
  };
  for (const auto& k : cases) {
    VolumeComponent c;
    c.Prepare(k.name, k.type, k.letter, k.index);
    EXPECT_EQ(c.NextVolumeName(k.name, k.index), k.want) << k.name;
    EXPECT_EQ(c.Letter(), k.letterAfter) << k.name;
  }
  VolumeComponent c;
  c.Prepare("/d/a.arj", atArj, 'a', 1);
  EXPECT_EQ(c.NextVolumeName("", 1), "");
  EXPECT_EQ(c.NextVolumeName("/d/a.arj", -1), "");
}

struct Events {
  std::vector<int> errors;
  std::vector<std::string> extended;
  std::vector<std::pair<std::string, int>> asked;
};

void Watch(VolumeComponent& c, Events& e) {
  c.OnError = [&e](TObject*, const std::string&, const std::string& ext, const std::string&, int code) {
    e.errors.push_back(code);
    e.extended.push_back(ext);
  };
}

TEST(VolumeRequests, NamedRequestLimitsAndMissingHandler) {
  test::TempFolder tmp;
  VolumeComponent c;
  Events e;
  Watch(c, e);
  std::string name = tmp.str() + "v.r00";
  EXPECT_FALSE(c.RequestVolume(name, 1000));
  std::string empty;
  EXPECT_FALSE(c.RequestVolume(empty, 3));
  EXPECT_EQ(e.errors, (std::vector<int>{25251, 25245}));
  // Without a handler an existing volume is granted, a missing one refused.
  e.errors.clear();
  EXPECT_FALSE(c.RequestVolume(name, 999));
  EXPECT_EQ(e.errors, (std::vector<int>{25270}));
  EXPECT_EQ(e.extended.back(), "OnNextVolume");
  test::WriteAll(tmp / "v.r00", std::string("x"));
  c.Prepare("/d/a.rar", atRar, 'q', 4);
  EXPECT_TRUE(c.RequestVolume(name, 999));
  EXPECT_EQ(c.VolumeNum(), 5);
}

TEST(VolumeRequests, HandlerIsAskedUntilTheVolumeExistsOrItCancels) {
  test::TempFolder tmp;
  VolumeComponent c;
  Events e;
  Watch(c, e);
  int calls = 0;
  c.OnNextVolume = [&](TObject*, std::string& name, int id, bool exists, bool& cancel) {
    ++calls;
    e.asked.emplace_back(name, id);
    if (calls == 1) {
      EXPECT_FALSE(exists);
    }
    if (calls == 2) test::WriteAll(name, std::string("vol"));  // "the user inserted it"
    (void)cancel;
  };
  std::string name = tmp.str() + "v.a01";
  EXPECT_TRUE(c.RequestVolume(name, 2));
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(e.errors.empty());

  // A handler that cancels: 25443 once and the walk's next header moves to the end.
  c.Prepare("/d/a.arj", atArj, 'a', 1);
  c.OnNextVolume = [&](TObject*, std::string&, int, bool, bool& cancel) { cancel = true; };
  std::string missing = tmp.str() + "gone.a02";
  EXPECT_FALSE(c.RequestVolume(missing, 2));
  EXPECT_EQ(e.errors, (std::vector<int>{25443}));
  EXPECT_TRUE(c.Cancelled());
  EXPECT_EQ(c.NextHeaderOffset(), c.ArchiveSize());
}

TEST(VolumeRequests, BareNamesAreTakenFromTheCurrentFolder) {
  VolumeComponent c;
  std::string seen;
  c.OnNextVolume = [&](TObject*, std::string& name, int, bool, bool& cancel) {
    seen = name;
    cancel = true;
  };
  std::string name = "set.r07";
  c.RequestVolume(name, 7);
  EXPECT_EQ(seen, platform::CurrentDir() + "set.r07");
}

TEST(VolumeRequests, SplitZipWithoutHandlerCancels) {
  test::TempFolder tmp;
  VolumeComponent c;
  Events e;
  Watch(c, e);
  c.Prepare(tmp.str() + "s.zip", atZipMV, 0, 0);
  std::unique_ptr<TStream32> stream;
  EXPECT_FALSE(c.RequestNextVolume(stream, 0, 3));
  EXPECT_TRUE(c.Cancelled());
  EXPECT_EQ(e.errors, (std::vector<int>{25443}));
}

TEST(VolumeRequests, SplitZipOpensTheNamedVolume) {
  test::TempFolder tmp;
  test::WriteAll(tmp / "s.zip", std::string("last"));
  test::WriteAll(tmp / "s.z01", std::string("first"));
  test::WriteAll(tmp / "s.z02", std::string("second!"));
  VolumeComponent c;
  Events e;
  Watch(c, e);
  c.Prepare(tmp.str() + "s.zip", atZipMV, 0, 0);
  std::vector<std::pair<std::string, int>> asked;
  c.OnNextVolume = [&](TObject*, std::string& name, int id, bool exists, bool&) {
    EXPECT_TRUE(exists);
    asked.emplace_back(name, id);
  };
  std::unique_ptr<TStream32> stream = std::make_unique<TFileStream32>(tmp.str() + "s.z01", fmOpenRead);
  ASSERT_TRUE(c.RequestNextVolume(stream, 1, 3));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], (std::pair<std::string, int>{tmp.str() + "s.z02", 2}));
  EXPECT_EQ(stream->Size(), 7);
  EXPECT_EQ(c.VolumeNum(), 2);

  // Refused by the handler: the archive itself is opened again.
  c.OnNextVolume = [&](TObject*, std::string&, int, bool, bool& cancel) { cancel = true; };
  EXPECT_FALSE(c.RequestNextVolume(stream, 0, 3));
  EXPECT_EQ(stream->Size(), 4);
  EXPECT_EQ(e.errors, (std::vector<int>{25443}));
}

TEST(VolumeRequests, ReaderRequestNamesOpensAndSizes) {
  test::TempFolder tmp;
  test::WriteAll(tmp / "set.a01", std::string("0123456789"));
  VolumeComponent c;
  c.Prepare(tmp.str() + "set.arj", atArj, 'a', 1);
  std::unique_ptr<TStream32> stream;
  std::string volume = tmp.str() + "set.arj";
  EXPECT_FALSE(c.RequestNextVolume(stream, volume));  // no handler: refused, nothing asked
  EXPECT_EQ(volume, tmp.str() + "set.arj");
  c.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
  ASSERT_TRUE(c.RequestNextVolume(stream, volume));
  EXPECT_EQ(volume, tmp.str() + "set.a01");
  EXPECT_EQ(c.ArchiveSize(), 10);
  EXPECT_EQ(c.VolumeNum(), 2);
}

TEST(RarNames, DecodesEveryCodeAndStaysInBounds) {
  // OEM "ab", a zero, then the high byte 0x04 and flags 00 10 01 (00):
  // a plain byte, a 16-bit character, a byte with the high byte.
  std::vector<uint8_t> field = {'a', 'b', 0, 0x04, 0x24, 'x', 0x3A, 0x26, 0x10};
  EXPECT_EQ(DecodeRarName(field.data(), field.size()), "x\xE2\x98\xBA\xD0\x90");
  // Code 3 without correction copies the OEM bytes at the same places.
  std::vector<uint8_t> copied = {'a', 'b', 'c', 0, 0x04, 0xC0, 0x00, 'x'};
  EXPECT_EQ(DecodeRarName(copied.data(), copied.size()), "abx");
  // With a correction byte: (OEM byte + Q) with the high byte.
  std::vector<uint8_t> corrected = {'A', 'B', 'C', 0, 0x04, 0xC0, 0x80, 0x10};
  EXPECT_EQ(DecodeRarName(corrected.data(), corrected.size()), "\xD1\x91\xD1\x92");
  // Every truncation ends cleanly.
  for (size_t n = 0; n <= field.size(); ++n) DecodeRarName(field.data(), n);
  for (size_t n = 0; n <= corrected.size(); ++n) DecodeRarName(corrected.data(), n);
}

}  // namespace
}  // namespace tessavar
