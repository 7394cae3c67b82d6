#pragma once
// The modal boxes of the windows: the message box with a kind and buttons,
// the password dialog and the select-folder dialog. Each can be answered by
// a hook instead of a person, which is how the tests drive the windows.
#include <QString>
#include <functional>

#include "platform/Dialogs.h"

class QWidget;

namespace tessavar::ui {

using platform::MsgButtons;
using platform::MsgKind;
using platform::MsgResult;

struct TMessage {
  QString caption;
  QString text;
  QString detail;  // a second, smaller line under the text; may be empty
  MsgKind kind = MsgKind::Information;
  MsgButtons buttons = MsgButtons::OK;
};

using TMessageHook = std::function<MsgResult(const TMessage&)>;
// Installs a hook that answers every message box; an empty function puts the
// real boxes back. Returns the previous hook.
TMessageHook SetMessageHook(TMessageHook hook);

// Routes the boxes the archive components raise themselves to the same
// message box as the windows' own.
void InstallComponentDialogs();

class TSkinMessage {
 public:
  explicit TSkinMessage(QWidget* owner) : owner_(owner) {}
  MsgResult MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons, const QString& detail = {}) const;
  // The box's title for each kind.
  static QString CaptionOf(MsgKind kind);

 private:
  QWidget* owner_;
};

// Answers (caption, password in/out) -> confirmed.
using TPasswordHook = std::function<bool(const QString& caption, QString& password)>;
TPasswordHook SetPasswordHook(TPasswordHook hook);

class TPasswordDialog {
 public:
  explicit TPasswordDialog(QWidget* owner) : owner_(owner) {}
  QString Caption() const { return caption_; }
  void SetCaption(const QString& v) { caption_ = v; }
  QString Label() const { return label_; }
  void SetLabel(const QString& v) { label_ = v; }
  // The entered text goes to Password; false when the user cancelled.
  bool Execute(QString& password);

 private:
  QWidget* owner_;
  QString caption_ = "Password";
  QString label_ = "Password:";
};

// Answers (title, folder in/out) -> confirmed.
using TSelectFolderHook = std::function<bool(const QString& title, QString& folder)>;
TSelectFolderHook SetSelectFolderHook(TSelectFolderHook hook);

class TSelectDirectoryDialog {
 public:
  explicit TSelectDirectoryDialog(QWidget* owner) : owner_(owner) {}
  QString Title() const { return title_; }
  void SetTitle(const QString& v) { title_ = v; }
  // The start folder before Execute, the chosen one after a confirmed Execute.
  QString Directory() const { return directory_; }
  void SetDirectory(const QString& v) { directory_ = v; }
  bool Execute();

 private:
  QWidget* owner_;
  QString title_ = "Select folder";
  QString directory_;
};

}  // namespace tessavar::ui
