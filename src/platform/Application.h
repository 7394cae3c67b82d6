#pragma once
// Lets a long operation hand control to the user interface between chunks.
#include <functional>

namespace tessavar::platform {

void ProcessMessages();
// The desktop program sets this to process its pending events; the CLI and
// the tests leave it empty. Returns the previous hook.
std::function<void()> SetProcessMessagesHook(std::function<void()> hook);

}  // namespace tessavar::platform
