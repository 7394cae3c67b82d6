#pragma once
// What the window tests share: a script that answers every box and dialog
// and records what was shown, and a wait that keeps the event loop running.
#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <deque>
#include <ostream>
#include <functional>
#include <optional>
#include <vector>

#include "app/MainUnit.h"
#include "ui/Dialogs.h"

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace tessavar::test::app {

using tessavar::ui::MsgButtons;
using tessavar::ui::MsgKind;
using tessavar::ui::MsgResult;

class DialogScript {
 public:
  DialogScript() {
    ui::SetMessageHook([this](const ui::TMessage& m) {
      messages.push_back(m);
      if (m.buttons == MsgButtons::OK) return MsgResult::OK;
      if (answers.empty()) return platform::DefaultAnswer(m.buttons);
      MsgResult r = answers.front();
      answers.pop_front();
      if (onAnswer) onAnswer(m);
      return r;
    });
    ui::SetPasswordHook([this](const QString&, QString& password) {
      ++passwordRequests;
      if (passwords.empty() || !passwords.front()) {
        if (!passwords.empty()) passwords.pop_front();
        return false;
      }
      password = *passwords.front();
      passwords.pop_front();
      return true;
    });
    ui::SetSelectFolderHook([this](const QString& title, QString& folder) {
      folderTitles << title;
      startFolders << folder;
      if (folders.empty() || !folders.front()) {
        if (!folders.empty()) folders.pop_front();
        return false;
      }
      folder = *folders.front();
      folders.pop_front();
      return true;
    });
  }
  ~DialogScript() {
    ui::SetMessageHook(nullptr);
    ui::SetPasswordHook(nullptr);
    ui::SetSelectFolderHook(nullptr);
  }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  QStringList Texts() const {
    QStringList out;
    for (const auto& m : messages) out << m.text;
    return out;
  }
  void Clear() { messages.clear(); }

  std::vector<ui::TMessage> messages;
  std::deque<MsgResult> answers;                // for boxes with a choice
  std::deque<std::optional<QString>> passwords;  // nullopt: the user cancels
  std::deque<std::optional<QString>> folders;
  QStringList folderTitles, startFolders;
  int passwordRequests = 0;
  std::function<void(const ui::TMessage&)> onAnswer;  // runs after a choice was made
};

inline bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Shows the folder in the window's file list and waits until it is read
// and sorted (the model sorts a moment after the rows arrive).
inline bool ShowFolder(tessavar::app::TMainForm& form, const QString& folder, int entries) {
  form.SetFolder(folder);
  if (!WaitUntil([&] { return form.FileListView->Loaded() && form.FileListView->Paths().size() == entries; }))
    return false;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 100) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return true;
}

}  // namespace tessavar::test::app
