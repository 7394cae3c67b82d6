#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Json.h"
#include "RunProgram.h"
#include "TestSupport.h"
#include "ZipTestUtil.h"

namespace tessavar {
namespace {

test::RunResult Cli(const std::vector<std::string>& args) { return test::RunProgram(TESSAVAR_CLI_PATH, args); }

std::vector<test::Json> JsonLines(const std::string& out) {
  std::vector<test::Json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(test::Json::Parse(line));
  return lines;
}

std::string Fixture(const std::string& rel) { return (test::FixturesDir() / rel).string(); }

TEST(CliList, JsonLinesMatchTheManifest) {
  for (const auto& m : test::zip::LoadZipManifest()) {
    if (m.file.rfind("bad-", 0) == 0 || m.file.find("truncated") != std::string::npos) continue;
    SCOPED_TRACE(m.file);
    test::RunResult r = Cli({"l", "--json", Fixture("zip/" + m.file)});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<test::Json> lines = JsonLines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front()["archive"]["file"].Str(), Fixture("zip/" + m.file));
    EXPECT_EQ(lines.back()["totals"]["files"].Int(-1), static_cast<int64_t>(m.entries.size()));
    ASSERT_EQ(lines.size(), m.entries.size() + 2);
    for (size_t i = 0; i < m.entries.size(); ++i) {
      const test::Json& e = lines[i + 1];
      std::string want = m.entries[i].name;
      for (char& c : want)
        if (c == '\\') c = '/';
      EXPECT_EQ(e["name"].Str(), want);
      EXPECT_EQ(e["dir"].Bool(), m.entries[i].dir) << want;
      EXPECT_EQ(e["size"].Int(-1), m.entries[i].size) << want;
      EXPECT_EQ(e["method_id"].Int(-1), m.entries[i].method) << want;
      EXPECT_EQ(e["encrypted"].Bool(), m.entries[i].encrypted) << want;
      if (m.entries[i].method != 99) {
        EXPECT_EQ(std::stoul(e["crc"].Str("x"), nullptr, 16), m.entries[i].crc32) << want;
      }
      EXPECT_EQ(e["modified"].Str().size(), 19u);
      EXPECT_TRUE(e.Has("packed") && e.Has("method") && e.Has("attr"));
    }
  }
}

TEST(CliList, ArchiveLineTypesAndExitCodes) {
  test::RunResult jar = Cli({"l", "--json", Fixture("zip/jar-tool.jar")});
  EXPECT_EQ(JsonLines(jar.out).front()["archive"]["type"].Str(), "Jar");
  test::RunResult sfx = Cli({"l", "--json", Fixture("zip/sfx-stub-unadjusted.exe")});
  EXPECT_EQ(sfx.status, 0) << sfx.err;
  EXPECT_EQ(JsonLines(sfx.out).front()["archive"]["type"].Str(), "ZipExe");

  // A file that opens but is no archive this reader knows: its line, then exit 2.
  test::RunResult gz = Cli({"l", "--json", Fixture("detect/readme.gz")});
  EXPECT_EQ(gz.status, 2);
  ASSERT_EQ(JsonLines(gz.out).size(), 1u);
  EXPECT_EQ(JsonLines(gz.out).front()["archive"]["type"].Str(), "GZip");
  EXPECT_NE(gz.err.find("error 25244: "), std::string::npos);

  test::RunResult missing = Cli({"l", "--json", "/no/such/archive.zip"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_NE(missing.err.find("error 25192: File not found: /no/such/archive.zip"), std::string::npos);

  EXPECT_EQ(Cli({"l"}).status, 3);
  EXPECT_EQ(Cli({"l", "--frobnicate", "a.zip"}).status, 3);
  EXPECT_EQ(Cli({"q"}).status, 3);

  // A damaged archive lists what it can and says so.
  test::RunResult damaged = Cli({"l", "--json", Fixture("zip/py-central-dir-truncated.zip")});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_EQ(JsonLines(damaged.out).back()["totals"]["files"].Int(), 3);
}

TEST(CliList, PatternsAndTheTable) {
  test::RunResult some = Cli({"l", "--json", Fixture("zip/infozip-deflate-6.zip"), "*.txt"});
  EXPECT_EQ(some.status, 0);
  for (const auto& line : JsonLines(some.out)) {
    if (!line.Has("name")) continue;
    const std::string n = line["name"].Str();
    EXPECT_EQ(n.substr(n.size() - 4), ".txt");
  }
  test::RunResult table = Cli({"l", Fixture("zip/py-stored.zip")});
  EXPECT_EQ(table.status, 0);
  EXPECT_EQ(table.out.rfind("Name", 0), 0u);
  for (const char* column : {"Size", "Packed", "Type", "Modified", "CRC", "Path"})
    EXPECT_NE(table.out.find(column), std::string::npos) << column;
}

}  // namespace
}  // namespace tessavar
