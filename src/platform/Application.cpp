#include "platform/Application.h"

#include <utility>

namespace tessavar::platform {
namespace {
std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}
}  // namespace

void ProcessMessages() {
  if (auto& h = Hook()) h();
}

std::function<void()> SetProcessMessagesHook(std::function<void()> hook) {
  return std::exchange(Hook(), std::move(hook));
}

}  // namespace tessavar::platform
