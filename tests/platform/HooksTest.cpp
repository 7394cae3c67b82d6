#include <gtest/gtest.h>

#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"

namespace tessavar::platform {
namespace {

TEST(Dialogs, WithoutAUserInterfaceTheAnswerIsNoCancelOrOK) {
  SetMessageBoxHook(nullptr);
  EXPECT_EQ(ShowMessage("c", "t", MsgKind::Confirmation, MsgButtons::YesNo), MsgResult::No);
  EXPECT_EQ(ShowMessage("c", "t", MsgKind::Confirmation, MsgButtons::YesNoCancel), MsgResult::No);
  EXPECT_EQ(ShowMessage("c", "t", MsgKind::Error, MsgButtons::RetryCancel), MsgResult::Cancel);
  EXPECT_EQ(ShowMessage("c", "t", MsgKind::Warning, MsgButtons::OKCancel), MsgResult::Cancel);
  EXPECT_EQ(ShowMessage("c", "t", MsgKind::Information, MsgButtons::OK), MsgResult::OK);
}

TEST(Dialogs, AHookSeesTheTextAndAnswers) {
  std::string seen;
  auto old = SetMessageBoxHook([&](const std::string& caption, const std::string& text, MsgKind, MsgButtons) {
    seen = caption + "|" + text;
    return MsgResult::Retry;
  });
  EXPECT_EQ(ShowMessage("Drive", "not ready", MsgKind::Error, MsgButtons::RetryCancel), MsgResult::Retry);
  EXPECT_EQ(seen, "Drive|not ready");
  SetMessageBoxHook(old);
}

TEST(Hooks, ProcessMessagesAndTypeNames) {
  int calls = 0;
  ProcessMessages();  // no hook: nothing happens
  auto oldHook = SetProcessMessagesHook([&] { ++calls; });
  ProcessMessages();
  ProcessMessages();
  EXPECT_EQ(calls, 2);
  SetProcessMessagesHook(oldHook);

  EXPECT_EQ(ShellTypeName("a.txt"), "");
  auto old = SetShellTypeNameProvider([](const std::string& n) { return "type of " + n; });
  EXPECT_EQ(ShellTypeName("a.txt"), "type of a.txt");
  SetShellTypeNameProvider(old);
  EXPECT_EQ(ShellTypeName("a.txt"), "");
}

}  // namespace
}  // namespace tessavar::platform
