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

class CliWrite : public ::testing::Test {
 protected:
  test::TempFolder dir;
  std::string zip() const { return (dir / "out.zip").string(); }
  void SetUp() override {
    fs::create_directories(dir / "docs" / "sub");
    fs::create_directories(dir / "docs" / "empty");
    test::WriteAll(dir / "docs" / "a.txt", std::string(3000, 'a'));
    test::WriteAll(dir / "docs" / "sub" / "b.txt", std::string("bee"));
  }
  std::string Listing(const std::string& archive) { return Cli({"l", "--json", archive}).out; }
};

TEST_F(CliWrite, AddStoresTheFolderNameAndReadsBack) {
  const test::RunResult r = Cli({"a", "-r", zip(), (dir / "docs").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string l = Listing(zip());
  for (const char* name : {"\"docs/a.txt\"", "\"docs/sub/b.txt\"", "\"docs/empty/\""})
    EXPECT_NE(l.find(name), std::string::npos) << name << "\n" << l;
  EXPECT_EQ(Cli({"t", zip()}).status, 0);
  // Everything up to date: nothing to do, and no failure.
  const test::RunResult again = Cli({"a", "-r", zip(), (dir / "docs").string()});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("25268"), std::string::npos);
}

TEST_F(CliWrite, LevelsPasswordAndTypes) {
  ASSERT_EQ(Cli({"a", "-r", "-0", zip(), (dir / "docs").string()}).status, 0);
  EXPECT_NE(Listing(zip()).find("\"method_id\":0"), std::string::npos);
  EXPECT_EQ(Listing(zip()).find("\"method_id\":8"), std::string::npos);
  const std::string enc = (dir / "enc.zip").string();
  ASSERT_EQ(Cli({"a", "-r", "-9", "-p", "pw", "--encrypt-headers", enc, (dir / "docs").string()}).status, 0);
  EXPECT_EQ(Cli({"t", "-p", "pw", enc}).status, 0);
  EXPECT_EQ(Cli({"t", "-p", "bad", enc}).status, 1);
  const std::string jar = (dir / "lib").string();
  ASSERT_EQ(Cli({"a", "-t", "jar", jar, (dir / "docs" / "a.txt").string()}).status, 0);
  EXPECT_TRUE(fs::exists(dir / "lib.jar"));
  const test::RunResult lha = Cli({"a", "-t", "lha", (dir / "x.lha").string(), (dir / "docs").string()});
  EXPECT_EQ(lha.status, 2);
  EXPECT_NE(lha.err.find("not available"), std::string::npos);
  EXPECT_EQ(Cli({"a", zip()}).status, 3);
  EXPECT_EQ(Cli({"a", "-t", "rar", zip(), "x"}).status, 3);
}

TEST_F(CliWrite, RefreshMoveDeleteAndMissingFiles) {
  ASSERT_EQ(Cli({"a", "-r", zip(), (dir / "docs").string()}).status, 0);
  fs::last_write_time(dir / "docs" / "a.txt", fs::file_time_type::clock::now() + std::chrono::hours(1));
  test::WriteAll(dir / "docs" / "new.txt", std::string("new"));
  const test::RunResult u = Cli({"u", "-r", zip(), (dir / "docs").string()});
  EXPECT_EQ(u.status, 0) << u.err;
  EXPECT_NE(u.out.find("refreshed 1 files"), std::string::npos) << u.out;
  EXPECT_EQ(Listing(zip()).find("new.txt"), std::string::npos);

  const test::RunResult m = Cli({"m", zip(), (dir / "docs" / "new.txt").string()});
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_FALSE(fs::exists(dir / "docs" / "new.txt"));
  EXPECT_NE(Listing(zip()).find("\"docs/new.txt\""), std::string::npos);

  EXPECT_EQ(Cli({"d", zip(), "docs/sub/*"}).status, 0);
  EXPECT_EQ(Listing(zip()).find("b.txt"), std::string::npos);
  EXPECT_EQ(Cli({"d", zip(), "nothing.here"}).status, 1);
  EXPECT_EQ(Cli({"d", (dir / "none.zip").string(), "*"}).status, 2);

  const test::RunResult missing = Cli({"a", zip(), (dir / "docs" / "a.txt").string(), (dir / "gone.txt").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("25192"), std::string::npos);
  const test::RunResult notZip = Cli({"a", (dir / "docs" / "a.txt").string(), (dir / "docs" / "sub").string()});
  EXPECT_EQ(notZip.status, 2) << notZip.err;
  EXPECT_EQ(fs::file_size(dir / "docs" / "a.txt"), 3000u);
}

}  // namespace
}  // namespace tessavar
