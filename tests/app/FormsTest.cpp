// The compress dialog, the progress and about windows and the version
// information.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <filesystem>

#include "AppTestUtil.h"
#include "TestSupport.h"
#include "app/AboutUnit.h"
#include "app/CompressUnit.h"
#include "app/ExeInfo.h"
#include "app/ProgressUnit.h"

namespace tessavar::test::app {
namespace {

using tessavar::app::TCompressForm;

TEST(CompressForm, NameRules) {
  const struct {
    const char *folder, *name, *type, *expected;
  } cases[] = {
      {"/out", "report", "Jar", "/out/report.Jar"},
      {"/out", "report.JAR", "Jar", "/out/report.JAR"},
      {"/out", "report.zip", "Lha", "/out/report.zip.lha"},
      {"/out", "backup", "Zip", "/out/backup.Zip"},
      {"/out", "backup.2024", "Zip", "/out/backup.2024.zip"},
      {"/out", "backup.zip ", "Zip", "/out/backup.zip "},  // the extension is compared trimmed
      {"/out", "dir.x/name", "Zip", "/out/dir.x/name.Zip"},  // a dot before the last "/" is no extension
      {"/", "a", "Cab", "/a.Cab"},                           // no doubled separator at the root
  };
  for (const auto& c : cases)
    EXPECT_EQ(tessavar::app::ArchiveNameFor(c.folder, c.name, c.type), c.expected) << c.name << " " << c.type;
}

// Runs the dialog with the user's part played by `play`.
bool RunDialog(TCompressForm& form, const QString& folder, const std::function<void(TCompressForm&)>& play) {
  form.ModalHook = play;
  return form.Execute(folder);
}

TEST(CompressForm, ValidatesNameAndPasswords) {
  TempFolder tmp;
  const QString dir = QString::fromStdString(tmp.path().string());
  DialogScript script;
  TCompressForm form(nullptr);

  // Blanks only: the name is missing, and the dialog stays open.
  form.ArchiveName->setText("   ");
  EXPECT_FALSE(RunDialog(form, dir, [](TCompressForm& f) {
    f.OkButtonClick();
    EXPECT_TRUE(f.isVisible());
  }));
  EXPECT_EQ(script.Texts(), QStringList{"You must provide an Archive Name."});
  EXPECT_EQ(script.messages[0].kind, MsgKind::Error);

  // A confirmation with one more blank does not match.
  script.Clear();
  form.ArchiveName->setText("out");
  EXPECT_FALSE(RunDialog(form, dir, [](TCompressForm& f) {
    f.Password->setText("secret");
    f.PasswordConfirmation->setText("secret ");
    f.OkButtonClick();
    EXPECT_TRUE(f.isVisible());
    f.CancelButtonClick();
  }));
  EXPECT_EQ(script.Texts(), QStringList{"Password and confirmation are not the same."});
  EXPECT_EQ(form.ArchiveName->text(), dir + "/out.Zip");  // rewritten after Cancel too

  // Cab with a password: warned, passwords emptied, and confirmed without one.
  script.Clear();
  form.ArchiveName->setText("cabinet");
  EXPECT_TRUE(RunDialog(form, dir, [](TCompressForm& f) {
    f.ArchiveType->setCurrentIndex(2);
    f.Password->setText("secret");
    f.PasswordConfirmation->setText("other");
    f.OkButtonClick();
    EXPECT_FALSE(f.isVisible());
  }));
  EXPECT_EQ(script.Texts(), QStringList{"Passwords are available only to Zip and Jar Archive Files."});
  EXPECT_EQ(script.messages[0].kind, MsgKind::Warning);
  EXPECT_TRUE(form.Password->text().isEmpty());
  EXPECT_TRUE(form.PasswordConfirmation->text().isEmpty());
  EXPECT_EQ(form.ArchiveName->text(), dir + "/cabinet.Cab");

  // Jar keeps its password.
  script.Clear();
  form.ArchiveName->setText("lib.JAR");
  EXPECT_TRUE(RunDialog(form, dir, [](TCompressForm& f) {
    f.ArchiveType->setCurrentIndex(3);
    f.Password->setText(" pw ");
    f.PasswordConfirmation->setText(" pw ");
    f.OkButtonClick();
  }));
  EXPECT_TRUE(script.messages.empty());
  EXPECT_EQ(form.Password->text(), " pw ");
  EXPECT_EQ(form.ArchiveName->text(), dir + "/lib.JAR");

  // Closed by its frame after an earlier confirmed run: not confirmed.
  form.ArchiveName->setText("again");
  EXPECT_FALSE(RunDialog(form, dir, [](TCompressForm& f) { f.close(); }));
}

TEST(CompressForm, EncryptFollowsThePasswordAndEachRunStartsAfresh) {
  TempFolder tmp;
  DialogScript script;
  TCompressForm form(nullptr);
  form.ArchiveName->setText("x");
  RunDialog(form, QString::fromStdString(tmp.path().string()), [](TCompressForm& f) {
    EXPECT_EQ(f.ArchiveType->currentText(), "Zip");
    EXPECT_EQ(f.PageControl->currentIndex(), 0);
    EXPECT_EQ(f.PageControl->tabText(0), "General");
    EXPECT_EQ(f.PageControl->tabText(1), "Password");
    EXPECT_FALSE(f.EncryptHeaders->isEnabled());
    f.Password->setText(" \t");
    EXPECT_FALSE(f.EncryptHeaders->isEnabled());  // blanks and control characters are no password
    f.Password->setText("a");
    EXPECT_TRUE(f.EncryptHeaders->isEnabled());
    f.EncryptHeaders->setChecked(true);
    f.Password->clear();
    EXPECT_FALSE(f.EncryptHeaders->isEnabled());
    EXPECT_TRUE(f.EncryptHeaders->isChecked());  // the mark stays while disabled
    f.ArchiveType->setCurrentIndex(1);
    f.PageControl->setCurrentIndex(1);
    f.CancelButtonClick();
  });
  form.ArchiveName->setText("y");
  RunDialog(form, QString::fromStdString(tmp.path().string()), [](TCompressForm& f) {
    EXPECT_EQ(f.ArchiveType->currentIndex(), 0);
    EXPECT_EQ(f.PageControl->currentIndex(), 0);
    EXPECT_FALSE(f.EncryptHeaders->isChecked());
    EXPECT_EQ(f.ArchiveName->text(), "y");  // the name the command put in stays
    f.CancelButtonClick();
  });
}

TEST(CompressForm, ShowsTheMainWindowsFolder) {
  TempFolder tmp;
  const QString dir = QString::fromStdString(tmp.path().string());
  QDir(dir).mkdir("inner");
  DialogScript script;
  TCompressForm form(nullptr);
  form.ArchiveName->setText("x");
  RunDialog(form, dir, [&](TCompressForm& f) {
    EXPECT_EQ(f.ShellComboBox->Folder(), dir);
    EXPECT_EQ(f.FileListView->Folder(), dir);
    // Choosing a folder in the list shows it in the combo box too.
    f.FileListView->OnFolderChange(dir + "/inner");
    EXPECT_EQ(f.ShellComboBox->Folder(), dir + "/inner");
    EXPECT_EQ(f.FileListView->Folder(), dir + "/inner");
    f.OkButtonClick();
  });
  EXPECT_EQ(form.ArchiveName->text(), dir + "/inner/x.Zip");
}

TEST(ProgressForm, RefusesToCloseWhileTheCommandRuns) {
  bool finished = false;
  tessavar::app::TProgressForm form(nullptr, [&] { return finished; });
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(form.size(), QSize(381, 338));
  EXPECT_EQ(form.ProgressPanel->Caption(), " Progress");
  form.ShowProgress();
  ASSERT_TRUE(form.isVisible());
  form.close();
  EXPECT_TRUE(form.isVisible());
  finished = true;
  form.close();
  EXPECT_FALSE(form.isVisible());
}

TEST(ProgressForm, TheWindowsHandlersDriveTheGauges) {
  DialogScript script;
  tessavar::app::TMainForm main({});
  main.ComponentBegin("docs/sub/readme.txt");
  EXPECT_EQ(main.ProgressForm->FileGaugeText(), "readme.txt");
  main.ComponentProgress(40, 70);
  EXPECT_EQ(main.ProgressForm->FileGauge->value(), 40);
  EXPECT_EQ(main.ProgressForm->ArchiveGauge->value(), 70);
  main.ComponentEnd();
  EXPECT_EQ(main.ProgressForm->FileGaugeText(), "");
  std::string password = "old";
  bool tryAgain = true;
  script.passwords = {QString("typed"), std::nullopt};
  main.UnZipGetPassword(password, tryAgain);
  EXPECT_EQ(password, "typed");
  EXPECT_TRUE(tryAgain);
  main.UnZipGetPassword(password, tryAgain);
  EXPECT_EQ(password, "typed");
  EXPECT_FALSE(tryAgain);
}

#ifdef TESSAVAR_GUI_PATH
TEST(ExeInfo, ReadsTheVersionTheBuildEmbeds) {
  tessavar::app::TExeInfo info(nullptr, TESSAVAR_GUI_PATH);
  EXPECT_GT(info.VersionInfoSize(), 0u);
  EXPECT_EQ(info.FileVersion(), "1.0.0.2472");
  EXPECT_EQ(info.ProductVersion(), "1.0");
  EXPECT_EQ(info.ProductName(), "Tessavar");
  EXPECT_EQ(info.FileOS(), 4u);
  EXPECT_EQ(info.FileType(), 1u);
  EXPECT_EQ(info.FileFlags(), 0u);
  EXPECT_EQ(tessavar::app::AboutText(info.ProductVersion(), info.FileVersion()), "Version 1.0 (Build 2472)");
  tessavar::app::TAboutForm about(nullptr, info, "/opt/tessavar/");
  about.FormActivate();
  EXPECT_EQ(about.ProductLabel->text(), "Version 1.0 (Build 2472)");
  EXPECT_EQ(about.ProductLabel->x(), (about.width() - about.ProductLabel->width()) / 2);
  EXPECT_EQ(about.LinkLabel->x(), (about.width() - about.LinkLabel->width()) / 2);
  EXPECT_EQ(about.windowTitle(), "About...");
  EXPECT_EQ(about.size(), QSize(295, 330));

  // A damaged copy, cut before its section table, has no version information.
  TempFolder tmp;
  std::vector<uint8_t> bytes = ReadAll(TESSAVAR_GUI_PATH);
  bytes.resize(bytes.size() / 2);
  WriteAll(tmp / "cut", bytes);
  EXPECT_EQ(tessavar::app::ReadVersionSection((tmp / "cut").string()).size(), 0u);
}
#endif

TEST(ExeInfo, AFileWithoutTheSectionKeepsTheRunTimeTexts) {
  TempFolder tmp;
  WriteAll(tmp / "text", "not a program");
  // The test program itself is an ELF file without the section.
  for (const std::string& file : {std::string("/proc/self/exe"), (tmp / "text").string(), (tmp / "missing").string()}) {
    tessavar::app::TExeInfo info(nullptr, file);
    EXPECT_EQ(info.VersionInfoSize(), 0u) << file;
    EXPECT_EQ(info.FileVersion(), "Updated at run-time");
    EXPECT_EQ(info.Comments(), "Updated at run-time");
    EXPECT_EQ(tessavar::app::AboutText(info.ProductVersion(), info.FileVersion()),
              "Version Updated at run-time (Build )");
  }
}

TEST(ExeInfo, SplitVersionAndSystemNames) {
  using tessavar::app::Split;
  EXPECT_EQ(Split("1.0.0.2472", '.'), (std::vector<std::string>{"1", "0", "0", "2472"}));
  EXPECT_EQ(Split("a..b.", '.'), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_TRUE(Split("", '.').empty());
  EXPECT_EQ(tessavar::app::AboutText("2.1", "2.1"), "Version 2.1 (Build )");
  const struct {
    int platform, major, minor;
    const char *sp, *name;
  } cases[] = {
      {1, 4, 0, "", "Windows 95"},       {1, 4, 10, " A", "Windows 98 SE"}, {1, 4, 10, "A", "Windows 98"},
      {1, 4, 90, "", "Windows ME"},      {2, 3, 51, "", "Windows NT"},      {2, 4, 0, "", "Windows NT"},
      {2, 5, 0, "", "Windows 2000"},     {2, 5, 1, "", "Windows XP"},       {2, 6, 0, "", "Unknown"},
      {0, 0, 0, "", "Unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(tessavar::app::OSNameOf(c.platform, c.major, c.minor, c.sp), c.name);
  tessavar::app::TExeInfo info(nullptr, "/nonexistent");
  EXPECT_EQ(info.OSName(), "Unknown");
  EXPECT_EQ(info.Version(), "1.1.0.0");
  EXPECT_LE(info.ComputerName().size(), 15u);
  EXPECT_TRUE(info.TempDir().ends_with('/'));
  // Renaming goes through the seam with at most 15 characters.
  std::string asked;
  auto saved = tessavar::app::TExeInfo::HostNameSetter();
  tessavar::app::TExeInfo::HostNameSetter() = [&](const std::string& n) {
    asked = n;
    return true;
  };
  info.SetComputerName("a-very-long-machine-name");
  tessavar::app::TExeInfo::HostNameSetter() = saved;
  EXPECT_EQ(asked, "a-very-long-mac");
  EXPECT_EQ(info.ComputerName(), "a-very-long-mac");
}

}  // namespace
}  // namespace tessavar::test::app
