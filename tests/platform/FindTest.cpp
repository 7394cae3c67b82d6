#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

#include "support/TestSupport.h"
#include "platform/File.h"
#include "platform/Find.h"

namespace fs = std::filesystem;

namespace tessavar::platform {
namespace {

using test::TempFolder;
using test::WriteAll;

TEST(Find, PatternMatching) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "a.txt", true},       {"*.*", "noext", true},      {"*.*", ".hidden", true},
      {"*", "a.b.c", true},         {"*.txt", "a.txt", true},    {"*.txt", "a.TXT", false},  // case matters
      {"*.txt", "a.txt.bak", false}, {"*.txt", "txt", false},    {"a?c", "abc", true},
      {"a?c", "ac", false},         {"a?c", "abbc", false},      {"?", "", false},
      {"a*b*c", "aXbYbZc", true},   {"a*b*c", "aXbYbZ", false},  {"*a*", "banana", true},
      {"readme.*", "readme", true},  // a trailing ".*" may match nothing
      {"readme.*", "readme.md", true}, {"readme.*", "readmeX", false}, {"data", "data", true},
      {"data", "data2", false},     {"**x", "x", true},          {"", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchFindPattern(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
}

class FindFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteAll(tmp_ / "a.txt", "12345");
    WriteAll(tmp_ / "b.TXT", "1");
    WriteAll(tmp_ / "noext", "");
    WriteAll(tmp_ / ".hidden", "xy");
    fs::create_directory(tmp_ / "sub");
    WriteAll(tmp_ / "sub" / "inner.txt", "abc");
    fs::create_symlink(tmp_ / "a.txt", tmp_ / "link.txt");
    fs::create_symlink(tmp_ / "gone", tmp_ / "dangling.txt");
  }

  std::map<std::string, FindData> List(const std::string& pattern) {
    std::map<std::string, FindData> found;
    FindFiles find(pattern);
    FindData d;
    while (find.Next(d)) {
      EXPECT_TRUE(found.emplace(d.name, d).second) << "twice: " << d.name;
    }
    EXPECT_FALSE(find.Next(d));  // stays finished
    return found;
  }

  static std::set<std::string> Names(const std::map<std::string, FindData>& m) {
    std::set<std::string> s;
    for (const auto& [name, data] : m) s.insert(name);
    return s;
  }

  TempFolder tmp_;
};

TEST_F(FindFolder, ListsMatchingEntriesWithTheirAttributes) {
  const std::set<std::string> all = {"a.txt", "b.TXT", "noext", ".hidden", "sub", "link.txt", "dangling.txt"};
  EXPECT_EQ(Names(List(tmp_.str() + "*.*")), all);
  EXPECT_EQ(Names(List(tmp_.str() + "*")), all);
  EXPECT_EQ(Names(List(tmp_.str() + "*.txt")), (std::set<std::string>{"a.txt", "link.txt", "dangling.txt"}));
  EXPECT_EQ(Names(List(tmp_.str() + "?.*")), (std::set<std::string>{"a.txt", "b.TXT"}));

  auto found = List(tmp_.str() + "*");
  EXPECT_EQ(found["a.txt"].attributes, kAttrArchive);
  EXPECT_EQ(found["a.txt"].size, 5);
  EXPECT_EQ(found[".hidden"].attributes, kAttrArchive | kAttrHidden);
  EXPECT_EQ(found["sub"].attributes, kAttrDirectory);
  EXPECT_EQ(found["sub"].size, 0);
  EXPECT_EQ(found["link.txt"].size, 5);  // the link's target
  EXPECT_EQ(found["link.txt"].attributes, kAttrArchive);
  EXPECT_EQ(found["dangling.txt"].size, 0);
  EXPECT_EQ(found["dangling.txt"].attributes, kAttrArchive);

  int64_t mtime = 0;
  ASSERT_TRUE(GetFileTime(tmp_.str() + "a.txt", mtime));
  EXPECT_EQ(found["a.txt"].mtime, mtime);
  EXPECT_EQ(found["a.txt"].mode, GetFileMode(tmp_.str() + "a.txt"));
}

TEST_F(FindFolder, NameWithoutWildcardsAndFolderPart) {
  FindFiles one(tmp_.str() + "sub");
  EXPECT_EQ(one.Folder(), tmp_.str());
  FindData d;
  ASSERT_TRUE(one.Next(d));
  EXPECT_EQ(d.name, "sub");
  EXPECT_EQ(d.attributes, kAttrDirectory);
  EXPECT_FALSE(one.Next(d));

  EXPECT_TRUE(List(tmp_.str() + "missing").empty());
  EXPECT_TRUE(List(tmp_.str() + "sub/").empty());
  EXPECT_TRUE(List(tmp_.str() + ".").empty());
  EXPECT_TRUE(List(tmp_.str() + "..").empty());
  EXPECT_EQ(Names(List(tmp_.str() + "sub/*.*")), (std::set<std::string>{"inner.txt"}));

  // A relative pattern has no folder part and lists the current folder.
  const std::string cwd = CurrentDir();
  ASSERT_TRUE(SetCurrentDir(tmp_.str() + "sub"));
  FindFiles relative("*.txt");
  EXPECT_EQ(relative.Folder(), "");
  ASSERT_TRUE(relative.Next(d));
  EXPECT_EQ(d.name, "inner.txt");
  ASSERT_TRUE(SetCurrentDir(cwd));

  ASSERT_TRUE(StatPath(tmp_.str() + "sub/", d));
  EXPECT_EQ(d.name, "sub");
  EXPECT_FALSE(StatPath(tmp_.str() + "missing", d));
}

TEST_F(FindFolder, FoldersThatCannotBeListedHaveNoEntries) {
  EXPECT_TRUE(List(tmp_.str() + "missing/*.*").empty());
  EXPECT_TRUE(List(tmp_.str() + "a.txt/*.*").empty());  // a file, not a folder
  if (::geteuid() != 0) {  // permissions do not stop root
    fs::permissions(tmp_ / "sub", fs::perms(0));
    EXPECT_TRUE(List(tmp_.str() + "sub/*").empty());
  }
}

}  // namespace
}  // namespace tessavar::platform
