#pragma once
// The type name the desktop shows for a file name ("PNG image"). The core
// knows none and answers ""; the desktop program installs a provider.
#include <functional>
#include <string>

namespace tessavar::platform {

std::string ShellTypeName(const std::string& fileName);
std::function<std::string(const std::string&)> SetShellTypeNameProvider(
    std::function<std::string(const std::string&)> provider);

}  // namespace tessavar::platform
