#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Json.h"
#include "PeBuilder.h"
#include "TestSupport.h"
#include "archive/frame/ztvregister.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/Drive.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

class Detector : public TRegisterZipTV {
 public:
  using TRegisterZipTV::TRegisterZipTV;
  void ForgetFile() { archiveFile_.clear(); }
};

std::vector<uint8_t> Fixture(const std::string& rel) { return test::ReadAll(test::FixturesDir() / rel); }

std::unique_ptr<Detector> DetectBytes(const test::TempFolder& tmp, const std::string& name,
                                      const std::vector<uint8_t>& bytes) {
  test::WriteAll(tmp / name, bytes);
  auto d = std::make_unique<Detector>();
  d->SetArchiveFileName(tmp.str() + name);
  return d;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What a file of a format folder must be detected as: the folder names the
// format, an executable wrapper adds "Exe", and the ".jar" name rule applies.
std::string ExpectedFor(const std::string& folder, const std::string& file) {
  const std::string ext = Lower(fs::path(file).extension().string());
  const bool exe = ext == ".exe";
  // The last part of a split set names a later disk in its end record.
  if (folder == "zip" && file.find("split") != std::string::npos) return "ZipMV";
  if (folder == "zip") return exe ? "ZipExe" : ext == ".jar" ? "Jar" : "Zip";
  if (folder == "gzip" || folder == "compress") return "GZip";
  if (folder == "tar") return "Tar";
  if (folder == "arc") return "Arc";
  if (folder == "arj") return "Arj";
  if (folder == "cab") return exe ? "CabExe" : "Cab";
  if (folder == "lha") return exe ? "LhaExe" : "Lha";
  if (folder == "rar") return exe ? "RarExe" : "Rar";
  if (folder == "encoded") return ext == ".eml" ? "B64" : "UUE";
  if (folder == "legacy") {
    static const std::map<std::string, std::string> byExt = {
        {".ace", "Ace"}, {".c00", "Ace"}, {".zoo", "Zoo"}, {".ha", "HA"}, {".arc", "Arc"},
        {".bh", "Bh"},   {".pak", "Pak"}, {".z", "MsGZ"}};
    auto it = byExt.find(ext);
    return it == byExt.end() ? "?" : it->second;
  }
  return "?";
}

TEST(Detection, EveryFixtureIsClassified) {
  const fs::path root = test::FixturesDir();
  ASSERT_TRUE(fs::is_directory(root)) << root;
  int checked = 0;
  std::vector<std::string> wrong;
  for (const auto& dir : fs::directory_iterator(root)) {
    if (!dir.is_directory() || !fs::exists(dir.path() / "MANIFEST.json")) continue;
    const std::string folder = dir.path().filename().string();
    const test::Json manifest = test::Json::ParseFile(dir.path() / "MANIFEST.json");
    for (const auto& item : manifest.items) {
      const std::string file = item["file"].Str();
      const int64_t wantOffset = item["expected_start_offset"].Int(-1);
      std::string want = folder == "detect" ? item["expected_type"].Str() : ExpectedFor(folder, file);
      // Only the first 32 KiB are searched for the encoded-text markers.
      if (file == "uu_begin_after_32k.txt") want = "NA";
      // Too short to hold any header.
      if (fs::file_size(dir.path() / file) < 20) want = "NA";
      Detector d;
      d.SetArchiveFileName((dir.path() / file).string());
      ++checked;
      std::string got = ArcTypeName(d.ArcType());
      bool ok = got == want;
      if (folder == "detect" && ok && wantOffset >= 0) ok = d.StartOffset() == wantOffset;
      if (!ok)
        wrong.push_back(folder + "/" + file + ": got " + got + "@" + std::to_string(d.StartOffset()) + ", want " +
                        want + (wantOffset >= 0 ? "@" + std::to_string(wantOffset) : ""));
    }
  }
  EXPECT_GT(checked, 200);
  std::string all;
  for (const auto& w : wrong) all += w + "\n";
  EXPECT_TRUE(wrong.empty()) << all;
}

TEST(Detection, EmptyZipIsReadFromItsLocalHeaders) {
  test::TempFolder tmp;
  std::vector<uint8_t> eocd(22, 0);
  eocd[0] = 'P';
  eocd[1] = 'K';
  eocd[2] = 5;
  eocd[3] = 6;
  auto d = DetectBytes(tmp, "empty.zip", eocd);
  EXPECT_EQ(d->ArcType(), atZip);
  EXPECT_EQ(d->StartOffset(), 0);
  // The end record is found even at the first byte; the archive is read
  // from its (absent) local headers.
  THeaderTypeState found;
  found.Include(htEnding);
  found.Include(htLocal);
  EXPECT_EQ(d->FoundHeaders(), found);
}

TEST(Detection, ZipBehindUnknownBytesIsFoundByTheScan) {
  Detector d;
  d.SetArchiveFileName((test::FixturesDir() / "zip/junk100-prepended.zip").string());
  EXPECT_EQ(d.ArcType(), atZip);
  EXPECT_EQ(d.StartOffset(), 100);
}

TEST(Detection, StringResourcesOfAStubNameTheArchiveStart) {
  test::TempFolder tmp;
  // A GZIP member where resource 1 points: found, but unusable inside an executable.
  auto img = test::BuildPeWithStrings({{1, "4096"}}, 4096);
  std::vector<uint8_t> gz = Fixture("detect/readme.gz");
  std::vector<uint8_t> exe = img;
  exe.insert(exe.end(), gz.begin(), gz.end());
  auto a = DetectBytes(tmp, "gz.exe", exe);
  EXPECT_EQ(a->ArcType(), atUnsupported);
  EXPECT_EQ(a->StartOffset(), 4096);

  // A ZIP there: the end-record search gives the directory start.
  std::vector<uint8_t> zip = Fixture("zip/py-stored.zip");
  exe = img;
  exe.insert(exe.end(), zip.begin(), zip.end());
  auto b = DetectBytes(tmp, "zip.exe", exe);
  EXPECT_EQ(b->ArcType(), atZipExe);
  EXPECT_GT(b->StartOffset(), 4096);
  EXPECT_TRUE(b->FoundHeaders().Has(htCentral));

  // A resource that is not a number, or points past the end, is ignored.
  auto bad = test::BuildPeWithStrings({{1, "12ab"}}, 4096);
  bad.insert(bad.end(), gz.begin(), gz.end());
  EXPECT_EQ(DetectBytes(tmp, "bad.exe", bad)->ArcType(), atNA);
}

TEST(Detection, SplitZipOnALabelledRemovableDiskIsSpanned) {
  test::TempFolder tmp;
  const std::vector<uint8_t> central = Fixture("detect/zip_central_first.zip");
  auto fake = std::make_unique<platform::FakeDriveProvider>(tmp.str());
  auto* drive = fake.get();
  auto old = platform::SetDriveProvider(std::move(fake));
  drive->disk.label = "PKBACK# 001";
  EXPECT_EQ(DetectBytes(tmp, "a.zip", central)->ArcType(), atZipDS);
  drive->disk.label = "BACKUP";
  EXPECT_EQ(DetectBytes(tmp, "b.zip", central)->ArcType(), atZipMV);
  platform::SetDriveProvider(std::move(old));
}

TEST(Detection, VolumeNumbersComeFromTheName) {
  test::TempFolder tmp;
  std::vector<uint8_t> arj(64, 0);
  arj[0] = 0x60;
  arj[1] = 0xEA;
  std::vector<uint8_t> rar = {'R', 'a', 'r', '!', 0x1A, 7, 0};
  rar.resize(64, 0);
  struct Case {
    const char* name;
    const std::vector<uint8_t>* bytes;
    char letter;
    int number;
  } cases[] = {{"set.arj", &arj, 'a', 1}, {"set.a01", &arj, 'a', 2}, {"set.rar", &rar, 'q', 0},
               {"set.r00", &rar, 'r', 1}, {"set.part1.rar", &rar, 'q', 0}, {"noext", &rar, 'q', 0}};
  for (const auto& c : cases) {
    auto d = DetectBytes(tmp, c.name, *c.bytes);
    EXPECT_EQ(d->VolumeLetter(), c.letter) << c.name;
    EXPECT_EQ(d->VolumeNum(), c.number) << c.name;
  }
}

TEST(Detection, TextEncodingsAndReDetection) {
  test::TempFolder tmp;
  const std::string b64 = "From: a@b\nContent-Type: text/plain\ncontent-transfer-encoding: base64\n\nQUJD\n";
  EXPECT_EQ(DetectBytes(tmp, "m.eml", std::vector<uint8_t>(b64.begin(), b64.end()))->ArcType(), atB64);
  const std::string uue = "Hello there, a file follows\nbegin 644 x.bin\n#86)C\n`\nend\n";
  EXPECT_EQ(DetectBytes(tmp, "u.txt", std::vector<uint8_t>(uue.begin(), uue.end()))->ArcType(), atUUE);
  const std::string plain = "just some words that are not any archive at all";
  EXPECT_EQ(DetectBytes(tmp, "p.txt", std::vector<uint8_t>(plain.begin(), plain.end()))->ArcType(), atNA);

  // Re-detection of a file that went away.
  auto d = DetectBytes(tmp, "gone.eml", std::vector<uint8_t>(b64.begin(), b64.end()));
  std::filesystem::remove(tmp / "gone.eml");
  d->SetArcType(atZip);
  EXPECT_EQ(d->ArcType(), atFileOpenErr);
}

TEST(Detection, DamagedAndTruncatedInputNeverFails) {
  test::TempFolder tmp;
  // Every prefix of a few archives, and random bytes behind "MZ" and "PK".
  for (const char* rel : {"zip/py-stored.zip", "detect/zipexe_7612.exe", "detect/tar_volume_label.tar"}) {
    std::vector<uint8_t> all = Fixture(rel);
    for (size_t n = 0; n < all.size(); n += 331) {
      std::vector<uint8_t> cut(all.begin(), all.begin() + static_cast<long>(n));
      auto d = DetectBytes(tmp, "cut.bin", cut);
      (void)d->ArcType();
    }
  }
  uint32_t seed = 12345;
  for (int round = 0; round < 16; ++round) {
    std::vector<uint8_t> junk(2000 + round * 50);
    for (auto& b : junk) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    junk[0] = round % 2 ? 'M' : 'P';
    junk[1] = round % 2 ? 'Z' : 'K';
    auto d = DetectBytes(tmp, "junk.bin", junk);
    (void)d->ArcType();
  }
}

}  // namespace
}  // namespace tessavar
