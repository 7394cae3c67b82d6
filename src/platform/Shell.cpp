#include "platform/Shell.h"

#include <utility>

namespace tessavar::platform {
namespace {
std::function<std::string(const std::string&)>& Provider() {
  static std::function<std::string(const std::string&)> provider;
  return provider;
}
}  // namespace

std::string ShellTypeName(const std::string& fileName) {
  if (auto& p = Provider()) return p(fileName);
  return "";
}

std::function<std::string(const std::string&)> SetShellTypeNameProvider(
    std::function<std::string(const std::string&)> provider) {
  return std::exchange(Provider(), std::move(provider));
}

}  // namespace tessavar::platform
