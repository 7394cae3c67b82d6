#pragma once
// Questions on the controlling terminal (password prompts, overwrite
// questions) for the command-line front end.
#include <string>

namespace tessavar::platform {

// True when standard input is a terminal.
bool StdinIsTerminal();
bool StderrIsTerminal();
// Asks on /dev/tty with echo off; false when there is no terminal or input ended.
bool ReadPassword(const std::string& prompt, std::string& password);
// Asks on /dev/tty and reads one line; false when there is no terminal.
bool AskLine(const std::string& prompt, std::string& answer);

}  // namespace tessavar::platform
