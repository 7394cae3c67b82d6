#include "platform/Temp.h"

#include <cstdlib>
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

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
  std::string dir = folder.empty() ? SystemTempDir() : folder;
  if (dir.back() != '/') dir += '/';
  std::string templ = dir + prefix + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return "";
  ::close(fd);
  return std::string(buf.data());
}

}  // namespace tessavar::platform
