#include "platform/Dialogs.h"

#include <utility>

namespace tessavar::platform {
namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

MsgResult DefaultAnswer(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::OK: return MsgResult::OK;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return MsgResult::No;
    case MsgButtons::OKCancel:
    case MsgButtons::RetryCancel: return MsgResult::Cancel;
  }
  return MsgResult::Cancel;
}

MsgResult ShowMessage(const std::string& caption, const std::string& text, MsgKind kind, MsgButtons buttons) {
  if (auto& h = Hook()) return h(caption, text, kind, buttons);
  return DefaultAnswer(buttons);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) { return std::exchange(Hook(), std::move(hook)); }

}  // namespace tessavar::platform
