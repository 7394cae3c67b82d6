#pragma once
#include <string>

namespace tessavar::cli {
int ListCommand(int argc, char** argv);
int TestCommand(int argc, char** argv);
int ExtractCommand(int argc, char** argv);
// a, u, m and d: add, refresh, move and delete through the ZIP writers.
int WriteCommand(const std::string& command, int argc, char** argv);
}  // namespace tessavar::cli
