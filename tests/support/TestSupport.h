#pragma once
// Helpers shared by every test binary: where the fixture corpus lives, a
// scratch folder that removes itself, and small file helpers.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessavar::test {

// ../shared/fixtures beside the project root; TESSAVAR_FIXTURES overrides it.
std::filesystem::path FixturesDir();
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

// A fresh folder under the system temporary folder, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder as a string with a trailing "/".
  std::string str() const { return path_.string() + "/"; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadAll(const std::filesystem::path& p);
void WriteAll(const std::filesystem::path& p, const std::string& data);
void WriteAll(const std::filesystem::path& p, const std::vector<uint8_t>& data);

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

}  // namespace tessavar::test
