#include "platform/Temp.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessavar::platform {

std::string SystemTempDir() {
  std::string dir;
  if (const char* env = std::getenv("TMPDIR"); env && *env) {
    struct stat st {};
    if (::stat(env, &st) == 0 && S_ISDIR(st.st_mode)) dir = env;
  }
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

FileHandle CreateTempFileOpen(const std::string& folder, const std::string& prefix, std::string& path) {
  std::string dir = folder.empty() ? SystemTempDir() : folder;
  if (dir.back() != '/') dir += '/';
  std::string templ = dir + prefix + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  path = fd < 0 ? std::string() : std::string(buf.data());
  return fd;
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
  std::string path;
  const FileHandle fd = CreateTempFileOpen(folder, prefix, path);
  if (fd >= 0) ::close(fd);
  return path;
}

}  // namespace tessavar::platform
