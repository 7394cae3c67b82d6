#pragma once
namespace tessavar::cli {
int ListCommand(int argc, char** argv);
int TestCommand(int argc, char** argv);
int ExtractCommand(int argc, char** argv);
}  // namespace tessavar::cli
