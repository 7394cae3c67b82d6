#include "app/CompressUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tessavar::app {

QString TrimControl(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b].unicode() <= ' ') ++b;
  while (e > b && s[e - 1].unicode() <= ' ') --e;
  return s.mid(b, e - b);
}

QString ArchiveNameFor(const QString& folder, const QString& typedName, const QString& typeText) {
  // The extension starts at the last dot of the name part.
  const qsizetype slash = typedName.lastIndexOf('/');
  const qsizetype dot = typedName.lastIndexOf('.');
  const QString ext = dot > slash ? TrimControl(typedName.mid(dot)) : QString();
  // A root folder already ends in "/"; the name does not get a second one.
  const QString base = folder.endsWith('/') ? folder : folder + "/";
  if (ext.isEmpty()) return base + typedName + "." + typeText;
  if (ext.compare("." + typeText, Qt::CaseInsensitive) == 0) return base + typedName;
  return base + typedName + "." + typeText.toLower();
}

TCompressForm::TCompressForm(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), SkinMessage(this) {
  setWindowTitle("Archive name and parameters");
  setFixedSize(526, 275);
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);

  ControlBar = new QWidget(this);
  auto* barLayout = new QHBoxLayout(ControlBar);
  barLayout->setContentsMargins(0, 0, 0, 0);
  ShellComboBox = new ui::TShellComboBox(ControlBar);
  barLayout->addWidget(ShellComboBox);
  layout->addWidget(ControlBar);

  FilePanel = new QWidget(this);
  auto* fileLayout = new QVBoxLayout(FilePanel);
  fileLayout->setContentsMargins(0, 0, 0, 0);
  FileListView = new ui::TShellListView(ui::TShellListView::Style::List, FilePanel);
  FileListView->SetMask("*.*|*.*");
  fileLayout->addWidget(FileListView);
  layout->addWidget(FilePanel, 1);

  PageControl = new QTabWidget(this);
  PageControl->setFixedHeight(62);
  auto* general = new QWidget;
  auto* g = new QHBoxLayout(general);
  g->setContentsMargins(6, 2, 6, 2);
  ArchiveNameLabel = new QLabel("Archive Name", general);
  ArchiveName = new QLineEdit(general);
  ArchiveTypeLabel = new QLabel("Archive Type", general);
  ArchiveType = new QComboBox(general);
  ArchiveType->addItems({"Zip", "Lha", "Cab", "Jar"});
  ArchiveNameLabel->setBuddy(ArchiveName);
  ArchiveTypeLabel->setBuddy(ArchiveType);
  g->addWidget(ArchiveNameLabel);
  g->addWidget(ArchiveName, 1);
  g->addWidget(ArchiveTypeLabel);
  g->addWidget(ArchiveType);
  PageControl->addTab(general, "General");

  auto* passwordPage = new QWidget;
  auto* pw = new QHBoxLayout(passwordPage);
  pw->setContentsMargins(6, 2, 6, 2);
  PasswordLabel = new QLabel("Password", passwordPage);
  Password = new QLineEdit(passwordPage);
  Password->setEchoMode(QLineEdit::Password);
  ConfirmationLabel = new QLabel("Confirmation", passwordPage);
  PasswordConfirmation = new QLineEdit(passwordPage);
  PasswordConfirmation->setEchoMode(QLineEdit::Password);
  PasswordConfirmation->setToolTip("Retype the Password to confirm!");
  EncryptHeaders = new QCheckBox("Encrypt", passwordPage);
  EncryptHeaders->setToolTip("Tessavar Compatible");
  EncryptHeaders->setChecked(false);
  EncryptHeaders->setEnabled(false);
  PasswordLabel->setBuddy(Password);
  ConfirmationLabel->setBuddy(PasswordConfirmation);
  pw->addWidget(PasswordLabel);
  pw->addWidget(Password, 1);
  pw->addWidget(ConfirmationLabel);
  pw->addWidget(PasswordConfirmation, 1);
  pw->addWidget(EncryptHeaders);
  PageControl->addTab(passwordPage, "Password");
  layout->addWidget(PageControl);

  ControlPanel = new QWidget(this);
  auto* buttons = new QHBoxLayout(ControlPanel);
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->addStretch(1);
  OkButton = new QPushButton("Ok", ControlPanel);
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", ControlPanel);
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  layout->addWidget(ControlPanel);

  connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
  connect(Password, &QLineEdit::textChanged, this, [this] { PasswordChange(); });
}

bool TCompressForm::PasswordsMatch() const { return Password->text() == PasswordConfirmation->text(); }

void TCompressForm::OkButtonClick() {
  if (TrimControl(ArchiveName->text()).isEmpty()) {
    SkinMessage.MessageDlg("You must provide an Archive Name.", MsgKind::Error, MsgButtons::OK);
    return;
  }
  const int type = ArchiveType->currentIndex();
  if (!TrimControl(Password->text()).isEmpty() && type != 0 && type != 3) {
    SkinMessage.MessageDlg("Passwords are available only to Zip and Jar Archive Files.", MsgKind::Warning,
                           MsgButtons::OK);
    Password->clear();
    PasswordConfirmation->clear();
  }
  if (PasswordsMatch()) {
    confirmed_ = true;
    accept();
  } else {
    SkinMessage.MessageDlg("Password and confirmation are not the same.", MsgKind::Error, MsgButtons::OK);
  }
}

void TCompressForm::CancelButtonClick() {
  confirmed_ = false;
  reject();
}

void TCompressForm::PasswordChange() { EncryptHeaders->setEnabled(!TrimControl(Password->text()).isEmpty()); }

void TCompressForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ArchiveName->setFocus();
}

bool TCompressForm::Execute(const QString& mainFolder) {
  link_.Link(ShellComboBox, nullptr, FileListView);
  link_.SetFolder(mainFolder);
  ArchiveType->setCurrentIndex(0);
  Password->clear();
  PasswordConfirmation->clear();
  EncryptHeaders->setChecked(false);
  PasswordChange();
  PageControl->setCurrentIndex(0);
  // A dialog closed by its frame or Escape must not count as confirmed
  // because an earlier run was.
  confirmed_ = false;
  if (parentWidget()) move(parentWidget()->geometry().center() - QPoint(width() / 2, height() / 2));
  if (ModalHook) {
    show();
    ModalHook(*this);
    if (isVisible()) reject();
  } else {
    exec();
  }
  const QString folder = FileListView->Folder();
  ArchiveName->setText(ArchiveNameFor(folder, ArchiveName->text(), ArchiveType->currentText()));
  link_.Unlink();
  return confirmed_;
}

}  // namespace tessavar::app
