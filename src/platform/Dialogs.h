#pragma once
// Message boxes that components raise themselves (creating TempDir, the
// drive check's Retry/Cancel, decode errors). Without a user interface the
// default answers No / Cancel / OK, and the components go on as for those.
#include <functional>
#include <string>

namespace tessavar::platform {

enum class MsgKind { Information, Warning, Error, Confirmation };
enum class MsgButtons { OK, OKCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgResult { OK, Cancel, Yes, No, Retry };

using MessageBoxHook = std::function<MsgResult(const std::string& caption, const std::string& text,
                                               MsgKind kind, MsgButtons buttons)>;

MsgResult ShowMessage(const std::string& caption, const std::string& text, MsgKind kind, MsgButtons buttons);
// The answer given when no hook is set.
MsgResult DefaultAnswer(MsgButtons buttons);
// Installs a hook; an empty function puts the default back. Returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

}  // namespace tessavar::platform
