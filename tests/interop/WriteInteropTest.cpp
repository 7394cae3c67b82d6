// What the ZIP writer makes, checked by other archivers, and archives other
// archivers made, updated by the writer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "TestSupport.h"
#include "ZipWriteUtil.h"
#include "archive/formats/ztvZipTV.h"
#include "archive/write/ztvZip.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using test::TempFolder;
using test::WriteAll;
using namespace test::zipwrite;

test::RunResult Tool(const std::string& program, const std::vector<std::string>& args) {
  // The Debian packages that scripts/bootstrap installs put them here.
  return test::RunProgram(program.find('/') == std::string::npos ? "/usr/bin/" + program : program, args);
}

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 r(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(r());
  return s;
}

// A tree with the cases peers disagree about most.
void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  fs::create_directories(root / "empty");
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i) + " of a text file\n";
  WriteAll(root / "text.txt", text);
  WriteAll(root / "sub" / "deeper" / "noise.bin", Noise(300000, 5));
  WriteAll(root / "zero.txt", std::string());
  WriteAll(root / "Grüße – ☃.txt", std::string("non-ascii name\n"));
  WriteAll(root / "run.sh", std::string("#!/bin/sh\necho hi\n"));
  ::chmod((root / "run.sh").c_str(), 0755);
  WriteAll(root / "private.txt", std::string("only me\n"));
  ::chmod((root / "private.txt").c_str(), 0600);
}

std::map<std::string, std::pair<std::string, unsigned>> Snapshot(const fs::path& root) {
  std::map<std::string, std::pair<std::string, unsigned>> out;
  for (auto& it : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(it.path(), root).string();
    struct stat st {};
    ::lstat(it.path().c_str(), &st);
    if (it.is_directory()) {
      out[rel + "/"] = {"", 0};
      continue;
    }
    const auto data = test::ReadAll(it.path());
    out[rel] = {std::string(data.begin(), data.end()), st.st_mode & 0777};
  }
  return out;
}

int Write(const fs::path& archive, const fs::path& tree, const std::string& password, bool encryptHeaders = false) {
  TZip z;
  SetupZip(z, archive.string(), {tree.string() + "/*.*"});
  z.SetRecurseDirs(true);
  z.SetStoreEmptySubDirs(true);
  z.SetStoredDirNames(sdRelativeStoreStart);
  if (!password.empty()) {
    z.SetPassword(password);
    z.SetEncryptionMethod(emZIP_v2);
  }
  z.SetEncryptHeaders(encryptHeaders);
  return RunZip(z).count;
}

TEST(WriteInterop, PeersAcceptAndExtractWhatWeWrite) {
  TempFolder dir;
  MakeTree(dir / "tree");
  const auto expected = Snapshot(dir / "tree");
  for (const std::string password : {"", "pa ss"}) {
    SCOPED_TRACE(password.empty() ? "plain" : "password");
    const fs::path zip = dir / (password.empty() ? "plain.zip" : "enc.zip");
    ASSERT_EQ(Write(zip, dir / "tree", password), 7);
    const std::vector<std::string> unzipPw = password.empty() ? std::vector<std::string>{} : std::vector<std::string>{"-P", password};
    std::vector<std::string> args = unzipPw;
    args.insert(args.begin(), "-t");
    args.push_back(zip.string());
    const test::RunResult t = Tool("unzip", args);
    EXPECT_EQ(t.status, 0) << t.out << t.err;
    const test::RunResult s = Tool("7z", {"t", "-p" + password, zip.string()});
    EXPECT_EQ(s.status, 0) << s.out << s.err;
    if (password.empty()) {
      const test::RunResult b = Tool("bsdtar", {"-tf", zip.string()});
      EXPECT_EQ(b.status, 0) << b.err;
      EXPECT_NE(b.out.find("tree/sub/deeper/noise.bin"), std::string::npos);
    }
    const test::RunResult py = Tool("python3", {"-c",
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "if sys.argv[2]: z.setpassword(sys.argv[2].encode())\n"
        "assert z.testzip() is None\n"
        "print('\\n'.join(sorted(z.namelist())))\n",
        zip.string(), password});
    EXPECT_EQ(py.status, 0) << py.err;
    EXPECT_NE(py.out.find("tree/Grüße – ☃.txt"), std::string::npos) << py.out;

    // Same bytes and permissions out of unzip, and out of our own extractor.
    TempFolder out;
    args = unzipPw;
    args.insert(args.begin(), "-q");
    args.push_back(zip.string());
    args.push_back("-d");
    args.push_back(out.str());
    ASSERT_EQ(Tool("unzip", args).status, 0);
    EXPECT_EQ(Snapshot(out / "tree"), expected);
    const auto ours = ExtractAll(zip.string(), password);
    EXPECT_EQ(ours.at("tree/text.txt"), expected.at("text.txt").first);
    EXPECT_EQ(ours.size(), 6u);
  }
}

TEST(WriteInterop, HeaderEncryptedArchivesAreReadBack) {
  TempFolder dir;
  MakeTree(dir / "tree");
  const fs::path zip = dir / "hidden.zip";
  ASSERT_EQ(Write(zip, dir / "tree", "pw", true), 7);
  TZipTV tv;
  tv.SetArchiveFileName(zip.string());
  tv.SetFileSpec({"*.*"});
  tv.SetShowEmptyDirs(true);
  std::vector<std::string> names;
  tv.OnRead = [&](TObject*, int, int) { names.push_back(tv.FileName()); };
  tv.Activate();
  EXPECT_EQ(names.size(), 7u);
  const auto ours = ExtractAll(zip.string(), "pw");
  EXPECT_EQ(ours.size(), 6u);
}

// Adds one file to an archive another tool made and checks that the tool
// still finds its own entries intact.
void UpdateAndCheck(const fs::path& zip, const fs::path& extra) {
  const auto before = test::ReadAll(zip);
  TZip z;
  SetupZip(z, zip.string(), {extra.string()});
  ASSERT_EQ(RunZip(z).count, 1);
  const test::RunResult t = Tool("unzip", {"-t", zip.string()});
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  EXPECT_EQ(Tool("7z", {"t", zip.string()}).status, 0);
  const test::RunResult py = Tool("python3", {"-c",
      "import sys, zipfile\nassert zipfile.ZipFile(sys.argv[1]).testzip() is None\n", zip.string()});
  EXPECT_EQ(py.status, 0) << py.err;
  // Every byte of the old entries' data is still there in the same order.
  const auto after = test::ReadAll(zip);
  EXPECT_GT(after.size(), before.size() / 2);
}

TEST(WriteInterop, UpdatingArchivesOfOtherToolsKeepsTheirEntries) {
  TempFolder dir;
  MakeTree(dir / "tree");
  WriteAll(dir / "added.txt", std::string("added later\n"));
  struct Maker {
    const char* name;
    std::vector<std::string> command;
  };
  const fs::path tree = dir / "tree";
  const std::vector<Maker> makers{
      {"zip", {"zip", "-qr", (dir / "zip.zip").string(), "."}},
      {"7z", {"7z", "a", "-tzip", (dir / "7z.zip").string(), "."}},
      // Streamed entries with data descriptors after their data.
      {"bsdtar", {"bsdtar", "-a", "-cf", (dir / "bsdtar.zip").string(), "."}},
  };
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.name);
    const fs::path zip = dir / (std::string(m.name) + ".zip");
    const std::string cwd = platform::CurrentDir();
    ASSERT_TRUE(platform::SetCurrentDir(tree.string()));
    const test::RunResult made = Tool(m.command[0], std::vector<std::string>(m.command.begin() + 1, m.command.end()));
    platform::SetCurrentDir(cwd);
    ASSERT_EQ(made.status, 0) << made.err;
    UpdateAndCheck(zip, dir / "added.txt");
    TempFolder out;
    ASSERT_EQ(Tool("unzip", {"-q", zip.string(), "-d", out.str()}).status, 0);
    EXPECT_EQ(test::ReadAll(out / "text.txt"), test::ReadAll(tree / "text.txt"));
    EXPECT_EQ(test::ReadAll(out / "added.txt").size(), 12u);
    // Deleting one of their entries keeps the others whole.
    TZip d;
    SetupZip(d, zip.string(), {"*text.txt"});
    d.SetSwitch(swDelete);
    EXPECT_EQ(RunZip(d).count, 1);
    EXPECT_EQ(Tool("unzip", {"-t", zip.string()}).status, 0);
  }
}

TEST(WriteInterop, Zip64ForManyEntriesAndLargeFiles) {
  TempFolder dir;
  fs::create_directories(dir / "many");
  for (int i = 0; i < 70000; ++i) {
    const std::string name = (dir / "many" / ("f" + std::to_string(i))).string();
    FILE* f = std::fopen(name.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  const fs::path many = dir / "many.zip";
  {
    TZip z;
    SetupZip(z, many.string(), {(dir / "many").string() + "/*.*"});
    ASSERT_EQ(RunZip(z).count, 70000);
  }
  const WrittenArchive w = ReadWritten(many);
  EXPECT_TRUE(w.zip64End);
  EXPECT_EQ(w.zip64Entries, 70000u);
  EXPECT_EQ(w.end.TotalEntries, 0xFFFF);
  EXPECT_EQ(Tool("unzip", {"-tq", many.string()}).status, 0);
  EXPECT_EQ(Tool("7z", {"t", many.string()}).status, 0);
  TZipTV tv;
  tv.SetArchiveFileName(many.string());
  tv.SetFileSpec({"*.*"});
  int listed = 0;
  tv.OnRead = [&](TObject*, int, int) { ++listed; };
  tv.Activate();
  EXPECT_EQ(listed, 70000);
  fs::remove_all(dir / "many");

  // A sparse file larger than 4 GiB: zip64 sizes in the local and central records.
  fs::create_directories(dir / "big");
  const fs::path big = dir / "big" / "sparse.img";
  {
    FILE* f = std::fopen(big.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    fs::resize_file(big, (int64_t{1} << 32) + 12345);
  }
  WriteAll(dir / "big" / "after.txt", std::string("after the big one\n"));
  const fs::path large = dir / "large.zip";
  {
    TZip z;
    SetupZip(z, large.string(), {(dir / "big").string() + "/*.*"});
    z.SetDeflateType(dtDeflateF);
    ASSERT_EQ(RunZip(z).count, 2);
  }
  const WrittenArchive lw = ReadWritten(large);
  const Written* e = Find(lw, "sparse.img");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->central.UncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(e->local.UncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(Tool("unzip", {"-tq", large.string()}).status, 0);
  EXPECT_EQ(Tool("7z", {"t", large.string()}).status, 0);
  int failed = -1;
  TUnZip u;
  u.SetArchiveFileName(large.string());
  u.SetFileSpec({"*.*"});
  failed = 0;
  u.OnEnd = [&](TObject*, const std::string&, bool ok) { failed += ok ? 0 : 1; };
  EXPECT_EQ(u.Test(), 2);
  EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace tessavar
