#include "ui/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>
#include <utility>

namespace tessavar::ui {
namespace {

TMessageHook& MessageHook() {
  static TMessageHook hook;
  return hook;
}
TPasswordHook& PasswordHook() {
  static TPasswordHook hook;
  return hook;
}
TSelectFolderHook& SelectFolderHook() {
  static TSelectFolderHook hook;
  return hook;
}

MsgResult ShowBox(QWidget* owner, const TMessage& m) {
  if (auto& hook = MessageHook()) return hook(m);
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return platform::DefaultAnswer(m.buttons);
  QMessageBox box(owner);
  box.setWindowTitle(m.caption);
  box.setText(m.text);
  if (!m.detail.isEmpty()) box.setInformativeText(m.detail);
  switch (m.kind) {
    case MsgKind::Information: box.setIcon(QMessageBox::Information); break;
    case MsgKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgKind::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgKind::Confirmation: box.setIcon(QMessageBox::Question); break;
  }
  QMessageBox::StandardButtons buttons;
  switch (m.buttons) {
    case MsgButtons::OK: buttons = QMessageBox::Ok; break;
    case MsgButtons::OKCancel: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MsgButtons::YesNo: buttons = QMessageBox::Yes | QMessageBox::No; break;
    case MsgButtons::YesNoCancel: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case MsgButtons::RetryCancel: buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
  }
  box.setStandardButtons(buttons);
  switch (box.exec()) {
    case QMessageBox::Ok: return MsgResult::OK;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Retry: return MsgResult::Retry;
    default: return MsgResult::Cancel;
  }
}

}  // namespace

TMessageHook SetMessageHook(TMessageHook hook) { return std::exchange(MessageHook(), std::move(hook)); }
TPasswordHook SetPasswordHook(TPasswordHook hook) { return std::exchange(PasswordHook(), std::move(hook)); }
TSelectFolderHook SetSelectFolderHook(TSelectFolderHook hook) {
  return std::exchange(SelectFolderHook(), std::move(hook));
}

void InstallComponentDialogs() {
  platform::SetMessageBoxHook([](const std::string& caption, const std::string& text, MsgKind kind,
                                 MsgButtons buttons) {
    TMessage m;
    m.caption = caption.empty() ? TSkinMessage::CaptionOf(kind) : QString::fromStdString(caption);
    m.text = QString::fromStdString(text);
    m.kind = kind;
    m.buttons = buttons;
    return ShowBox(QApplication::activeWindow(), m);
  });
}

QString TSkinMessage::CaptionOf(MsgKind kind) {
  switch (kind) {
    case MsgKind::Information: return "Information";
    case MsgKind::Warning: return "Warning";
    case MsgKind::Error: return "Error";
    case MsgKind::Confirmation: return "Confirm";
  }
  return "Tessavar";
}

MsgResult TSkinMessage::MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons,
                                   const QString& detail) const {
  TMessage m;
  m.caption = CaptionOf(kind);
  m.text = text;
  m.detail = detail;
  m.kind = kind;
  m.buttons = buttons;
  return ShowBox(owner_, m);
}

bool TPasswordDialog::Execute(QString& password) {
  if (auto& hook = PasswordHook()) return hook(caption_, password);
  QDialog dialog(owner_);
  dialog.setWindowTitle(caption_);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(label_, &dialog));
  auto* edit = new QLineEdit(&dialog);
  edit->setEchoMode(QLineEdit::Password);
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.setMinimumWidth(320);
  if (dialog.exec() != QDialog::Accepted) return false;
  password = edit->text();
  return true;
}

bool TSelectDirectoryDialog::Execute() {
  QString folder = directory_;
  bool ok;
  if (auto& hook = SelectFolderHook()) {
    ok = hook(title_, folder);
  } else {
    folder = QFileDialog::getExistingDirectory(owner_, title_, directory_);
    ok = !folder.isEmpty();
  }
  if (ok) directory_ = folder;
  return ok;
}

}  // namespace tessavar::ui
