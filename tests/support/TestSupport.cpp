#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tessavar::test {

fs::path SourceDir() { return fs::path(TESSAVAR_SOURCE_DIR); }
fs::path BinaryDir() { return fs::path(TESSAVAR_BINARY_DIR); }

fs::path FixturesDir() {
  if (const char* env = std::getenv("TESSAVAR_FIXTURES"); env && *env) return fs::path(env);
  return fs::weakly_canonical(SourceDir() / ".." / "shared" / "fixtures");
}

TempFolder::TempFolder() {
  std::random_device rd;
  fs::path base = fs::temp_directory_path();
  for (int i = 0; i < 100; ++i) {
    fs::path p = base / ("tessavar-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Tests make folders read-only on purpose; give write access back first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignore;
    if (!it->is_symlink(ignore)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignore);
  }
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_) setenv(name_.c_str(), old_.c_str(), 1);
  else unsetenv(name_.c_str());
}

}  // namespace tessavar::test
