#pragma once
namespace tessavar::cli {
int ListCommand(int argc, char** argv);
}  // namespace tessavar::cli
