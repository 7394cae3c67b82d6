#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

test::RunResult Cli(const std::vector<std::string>& args) { return test::RunProgram(TESSAVAR_CLI_PATH, args); }
std::string Zip(const std::string& name) { return (test::FixturesDir() / "zip" / name).string(); }

TEST(CliExtract, TestExitCodes) {
  EXPECT_EQ(Cli({"t", Zip("infozip-deflate-9.zip")}).status, 0);
  test::RunResult crc = Cli({"t", Zip("bad-crc-mismatch.zip")});
  EXPECT_EQ(crc.status, 1);
  EXPECT_NE(crc.out.find("FAILED"), std::string::npos);
  // Encrypted entries: the right password passes, a wrong one and none fail.
  EXPECT_EQ(Cli({"t", "-p", "secret", Zip("infozip-zipcrypto-store.zip")}).status, 0);
  EXPECT_EQ(Cli({"t", "-p", "wrong", Zip("infozip-zipcrypto-store.zip")}).status, 1);
  EXPECT_EQ(Cli({"t", Zip("infozip-zipcrypto-store.zip")}).status, 1);
  EXPECT_EQ(Cli({"t", "/no/such.zip"}).status, 2);
  EXPECT_EQ(Cli({"t", (test::FixturesDir() / "detect/readme.gz").string()}).status, 2);
  EXPECT_EQ(Cli({"t"}).status, 3);
  EXPECT_EQ(Cli({"x", "-y", "-n", Zip("py-stored.zip")}).status, 3);
}

TEST(CliExtract, ExtractOverwriteAndFolders) {
  test::TempFolder out;
  test::RunResult first = Cli({"x", "-o", out.str(), Zip("infozip-deflate-6.zip")});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(fs::is_directory(out / "emptydir"));
  EXPECT_TRUE(fs::is_regular_file(out / "text" / "lines.txt"));
  // Existing files are kept unless -y says otherwise.
  test::WriteAll(out / "hello.txt", std::string("mine"));
  EXPECT_EQ(Cli({"x", "-n", "-o", out.str(), Zip("infozip-deflate-6.zip")}).status, 0);
  auto mine = test::ReadAll(out / "hello.txt");
  EXPECT_EQ(std::string(mine.begin(), mine.end()), "mine");
  EXPECT_EQ(Cli({"x", "-y", "-o", out.str(), Zip("infozip-deflate-6.zip")}).status, 0);
  EXPECT_NE(fs::file_size(out / "hello.txt"), 4u);
  // -j drops the stored folders; a pattern picks entries.
  test::TempFolder flat;
  EXPECT_EQ(Cli({"x", "-j", "-o", flat.str(), Zip("infozip-deflate-6.zip"), "*.txt"}).status, 0);
  EXPECT_TRUE(fs::is_regular_file(flat / "lines.txt"));
  EXPECT_FALSE(fs::exists(flat / "text"));
}

TEST(CliExtract, HostileNamesStayInsideAndFail) {
  test::TempFolder root;
  fs::create_directories(root / "out");
  test::RunResult r = Cli({"x", "-o", (root / "out").string(), Zip("bad-zipslip.zip")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 25245: Invalid file name"), std::string::npos);
  for (const auto& f : fs::recursive_directory_iterator(root.path()))
    EXPECT_EQ(f.path().string().rfind((root / "out").string(), 0), 0u) << f.path();
}

TEST(CliExtract, ExecutableBitsSurvive) {
  test::TempFolder out;
  ASSERT_EQ(Cli({"x", "-o", out.str(), Zip("py-unix-modes.zip")}).status, 0);
  const auto perms = fs::status(out / "bin" / "run.sh").permissions();
  EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
}

}  // namespace
}  // namespace tessavar
