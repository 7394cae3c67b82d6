#pragma once
// TCompressForm: the name, type and password of the archive the Compress
// command is about to make.
#include <QDialog>
#include <functional>

#include "ui/Dialogs.h"
#include "ui/ShellViews.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace tessavar::app {

using ui::MsgButtons;
using ui::MsgKind;
using ui::MsgResult;

// Trims blanks and control characters at both ends.
QString TrimControl(const QString& s);
// The archive's full path from the folder F, the typed name and the type's
// item text T: no extension appends "." T, a matching one (ignoring case)
// keeps the name, another appends "." T in lower case.
QString ArchiveNameFor(const QString& folder, const QString& typedName, const QString& typeText);

class TCompressForm : public QDialog {
 public:
  explicit TCompressForm(QWidget* mainWindow);

  QWidget* ControlBar;
  ui::TShellComboBox* ShellComboBox;
  QWidget* FilePanel;
  ui::TShellListView* FileListView;
  QTabWidget* PageControl;
  QLabel* ArchiveNameLabel;
  QLineEdit* ArchiveName;
  QLabel* ArchiveTypeLabel;
  QComboBox* ArchiveType;
  QLabel* PasswordLabel;
  QLineEdit* Password;
  QLabel* ConfirmationLabel;
  QLineEdit* PasswordConfirmation;
  QCheckBox* EncryptHeaders;
  QWidget* ControlPanel;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  ui::TSkinMessage SkinMessage;

  // Shows the dialog on the main window's folder; after it closed the name
  // field holds the archive's full path. True when confirmed.
  bool Execute(const QString& mainFolder);
  bool Confirmed() const { return confirmed_; }

  void OkButtonClick();
  void CancelButtonClick();
  void PasswordChange();
  bool PasswordsMatch() const;

  // Replaces the modal loop: called with the dialog shown, it plays the
  // user's part (fill fields, click buttons). Used by the tests.
  std::function<void(TCompressForm&)> ModalHook;

 protected:
  void showEvent(QShowEvent* event) override;  // FormActivate

 private:
  bool confirmed_ = false;
  ui::TShellLink link_;
};

}  // namespace tessavar::app
