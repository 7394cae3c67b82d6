// The four commands of the main window, the help command and the error box.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include "AppTestUtil.h"
#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "app/CompressUnit.h"
#include "app/MainUnit.h"
#include "app/ProgressUnit.h"
#include "ui/Controls.h"
#include "archive/write/ztvJar.h"
#include "archive/write/ztvZip.h"

namespace tessavar::test::app {
namespace {

using tessavar::app::TMainForm;

QString Str(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
std::string S(const QString& s) { return s.toStdString(); }

TEST(Commands, ResultTextsUseTheSingularOnlyForOne) {
  using namespace tessavar::app;
  EXPECT_EQ(CompressResultText(1, "/w/out.Zip"), "1 files compressed into /w/out.Zip");
  EXPECT_EQ(CompressResultText(0, "/w/out.Zip"), "0 files compressed into /w/out.Zip");
  EXPECT_EQ(ExtractResultText(1, "/x"), "1 file uncompressed in /x");
  EXPECT_EQ(ExtractResultText(0, "/x"), "0 files uncompressed in /x");
  EXPECT_EQ(ExtractResultText(12, "/x"), "12 files uncompressed in /x");
  EXPECT_EQ(TestResultText(1, "/a.zip"), "1 file found in /a.zip has been tested.");
  EXPECT_EQ(TestResultText(0, "/a.zip"), "0 files found in /a.zip have been tested.");
  EXPECT_EQ(TestResultText(3, "/a.zip"), "3 files found in /a.zip have been tested.");
}

TEST(Commands, ErrorBoxShowsTheBuiltTextAndTheCodesText) {
  DialogScript script;
  TMainForm form({});
  EXPECT_EQ(TMainForm::ErrorText("a.zip", "", "", 25192), "Error: 25192 File: a.zip -  - ");
  EXPECT_EQ(TMainForm::ErrorText("", "OnNextVolume", "2", 25443), "Error: 25443 File:  - OnNextVolume - 2");
  form.Error("a.zip", "", "", 25192);
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].text, "Error: 25192 File: a.zip -  - ");
  EXPECT_EQ(script.messages[0].detail, "File not found");
  EXPECT_EQ(script.messages[0].kind, MsgKind::Error);
}

TEST(Commands, WrongSelectionsAreReportedAndChangeNothing) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  QDir(dir).mkdir("f1");
  QDir(dir).mkdir("f2");
  WriteAll(tmp / "a.zip", zip::BuildZip(zip::ThreeEntries(), {}));
  WriteAll(tmp / "b.lzh", "-lh5-");
  WriteAll(tmp / "c.txt", "text");
  DialogScript script;
  TMainForm form({});
  ASSERT_TRUE(ShowFolder(form, dir, 5));

  const QString none = "At least 1 file or 1 folder must be selected.";
  form.Compress();
  form.Delete();
  EXPECT_EQ(script.Texts(), (QStringList{none, none}));

  const struct {
    QStringList select;
    QString message;
  } cases[] = {
      {{dir + "/f1"}, "There is at least 1 folder selected."},
      {{dir + "/f1", dir + "/a.zip"}, "There is at least 1 folder selected."},
      {{}, "You must select 1 compressed file."},
      {{dir + "/a.zip", dir + "/c.txt"}, "You must select 1 compressed file."},
      {{dir + "/b.lzh"}, "Unknown file type. Please, select an Archive File."},
      {{dir + "/c.txt"}, "Unknown file type. Please, select an Archive File."},
  };
  for (const auto& c : cases) {
    form.FileListView->SelectPaths(c.select);
    script.Clear();
    form.Extract();
    form.Test();
    EXPECT_EQ(script.Texts(), (QStringList{c.message, c.message})) << c.select.join(",").toStdString();
  }
  EXPECT_TRUE(script.folderTitles.isEmpty());
  EXPECT_FALSE(form.ProgressForm->isVisible());
}

TEST(Commands, CompressProposesTheNameOfOneSelectedFolder) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  QDir(dir).mkdir("data");
  QDir(dir).mkdir("more");
  WriteAll(tmp / "file.txt", "x");
  DialogScript script;
  TMainForm form({});
  ASSERT_TRUE(ShowFolder(form, dir, 3));
  const struct {
    QStringList select;
    QString proposed;
  } cases[] = {
      {{dir + "/data"}, "data"},
      {{dir + "/data", dir + "/more"}, ""},
      {{dir + "/file.txt"}, ""},
      {{dir + "/data", dir + "/file.txt"}, "data"},
  };
  for (const auto& c : cases) {
    form.FileListView->SelectPaths(c.select);
    QString seen = "unset";
    form.CompressForm->ModalHook = [&](tessavar::app::TCompressForm& f) {
      seen = f.ArchiveName->text();
      f.CancelButtonClick();
    };
    form.Compress();
    EXPECT_EQ(seen, c.proposed);
  }
  EXPECT_TRUE(script.messages.empty());  // a cancelled dialog stops without a word
}

TEST(Commands, DeleteAsksForEachFileThenEachFolder) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  QDir(dir).mkpath("folder/inner");
  WriteAll(tmp / "folder" / "inner" / "x.txt", "x");
  WriteAll(tmp / "one.txt", "1");
  WriteAll(tmp / "two.txt", "2");
  DialogScript script;
  TMainForm form({});
  ASSERT_TRUE(ShowFolder(form, dir, 3));
  form.FileListView->SelectPaths({dir + "/two.txt", dir + "/folder", dir + "/one.txt"});
  script.answers = {MsgResult::Yes, MsgResult::No, MsgResult::Yes};
  form.Delete();
  EXPECT_EQ(script.Texts(), (QStringList{"Are you sure you want to delete " + dir + "/one.txt?",
                                         "Are you sure you want to delete " + dir + "/two.txt?",
                                         "Are you sure you want to delete " + dir + "/folder?"}));
  for (const auto& m : script.messages) {
    EXPECT_EQ(m.kind, MsgKind::Confirmation);
    EXPECT_EQ(m.buttons, MsgButtons::YesNo);
  }
  EXPECT_FALSE(QFileInfo::exists(dir + "/one.txt"));
  EXPECT_TRUE(QFileInfo::exists(dir + "/two.txt"));
  EXPECT_FALSE(QFileInfo::exists(dir + "/folder"));
  EXPECT_FALSE(form.ProgressForm->isVisible());
}

TEST(Commands, AFailedDeletionIsReported) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  WriteAll(tmp / "gone.txt", "1");
  DialogScript script;
  TMainForm form({});
  ASSERT_TRUE(ShowFolder(form, dir, 1));
  form.FileListView->SelectPaths({dir + "/gone.txt"});
  // Someone else removes the file while the question is open.
  script.answers = {MsgResult::Yes};
  script.onAnswer = [&](const ui::TMessage&) { QFile::remove(dir + "/gone.txt"); };
  form.Delete();
  ASSERT_EQ(script.messages.size(), 2u);
  EXPECT_EQ(script.messages[1].text, "The file " + dir + "/gone.txt could not be deleted.");
  EXPECT_EQ(script.messages[1].kind, MsgKind::Error);
  EXPECT_FALSE(script.messages[1].detail.isEmpty());
}

TEST(Commands, HelpOpensTheGuideBesideTheProgram) {
  TMainForm form({});
  QString opened;
  auto saved = TMainForm::DocumentOpener();
  TMainForm::DocumentOpener() = [&](const QString& path) {
    opened = path;
    return true;
  };
  form.TessavarHelpMenuClick();
  TMainForm::DocumentOpener() = saved;
  EXPECT_EQ(opened, form.ProgramDir() + "Documentation/Tessavar.html");
  EXPECT_TRUE(std::filesystem::exists(SourceDir() / "Documentation" / "Tessavar.html"));
}

TEST(Commands, ATypeWithoutItsComponentNamesTheMissingComponent) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  WriteAll(tmp / "a.lha", "not really");
  DialogScript script;
  TMainForm form({});
  ASSERT_TRUE(ShowFolder(form, dir, 1));
  script.folders = {dir};
  script.Clear();
  form.FileListView->SelectPaths({dir + "/a.lha"});
  script.Clear();
  form.Extract();
  ASSERT_FALSE(script.messages.empty());
  EXPECT_EQ(script.messages.back().text, "Error: 25244 File: " + dir + "/a.lha - TUnLha is not part of this build - ");
  EXPECT_FALSE(form.ProgressForm->isVisible());
}

// Files in a folder and a subfolder.
void MakeTree(const std::filesystem::path& root) {
  std::filesystem::create_directories(root / "docs");
  WriteAll(root / "docs" / "readme.txt", std::string(5000, 'r'));
  WriteAll(root / "docs" / "notes.txt", "notes");
  WriteAll(root / "top.txt", "top level");
}

// Plays the compress dialog: name, type, password twice, Ok.
std::function<void(tessavar::app::TCompressForm&)> Answer(const QString& name, int type, const QString& password) {
  return [=](tessavar::app::TCompressForm& f) {
    if (!name.isNull()) f.ArchiveName->setText(name);
    f.ArchiveType->setCurrentIndex(type);
    f.Password->setText(password);
    f.PasswordConfirmation->setText(password);
    f.OkButtonClick();
  };
}

TEST(Commands, CompressSelectExtractTestAndDeleteThroughTheWindow) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  MakeTree(tmp / "data");
  std::filesystem::create_directories(tmp / "out");
  DialogScript script;
  TMainForm form({});
  form.show();
  ASSERT_TRUE(ShowFolder(form, dir, 2));  // data, out

  // Compress the folder "data" into data.Zip with a password.
  form.FileListView->SelectPaths({dir + "/data"});
  form.CompressForm->ModalHook = Answer(QString(), 0, " secret ");
  form.Compress();
  const QString archive = dir + "/data.Zip";
  ASSERT_FALSE(script.messages.empty());
  EXPECT_EQ(script.messages.back().text, "3 files compressed into " + archive);
  EXPECT_EQ(form.CurrentCompressor()->component, static_cast<TCustomCClass*>(form.Zip.get()));
  EXPECT_EQ(form.Zip->FileSpec(), (TStrings{S(dir + "/data/*.*")}));
  EXPECT_EQ(form.Zip->ArchiveFile(), S(archive));
  EXPECT_EQ(form.Zip->Password(), "secret");  // trimmed
  EXPECT_EQ(form.ProgressForm->windowTitle(), "Compressing data.Zip");
  EXPECT_FALSE(form.ProgressForm->LogoPanel->Caption().isEmpty());  // when the command started
  EXPECT_FALSE(form.ProgressForm->isVisible());
  ASSERT_TRUE(QFileInfo::exists(archive));

  // Select the archive: its rows appear, every file encrypted.
  script.Clear();
  ASSERT_TRUE(WaitUntil([&] { return form.FileListView->Paths().contains(archive); }));
  form.FileListView->SelectPaths({archive});
  EXPECT_EQ(form.ArchivePanel->Caption(), archive);
  QTreeWidgetItem* readme = nullptr;
  int files = 0;
  for (int i = 0; i < form.ArchiveListView->ItemCount(); ++i) {
    QTreeWidgetItem* row = form.ArchiveListView->Item(i);
    if (row->text(0) == "readme.txt") readme = row;
    if (!row->text(0).endsWith('/')) ++files;
  }
  EXPECT_EQ(files, 3);
  ASSERT_NE(readme, nullptr);
  const QString readmePath = readme->text(6);  // the row goes when the view is cleared
  EXPECT_TRUE(readmePath.endsWith("docs/")) << readmePath.toStdString();

  // A cancelled password request ends that entry's attempts: nothing passes.
  script.passwords = {std::nullopt, std::nullopt, std::nullopt};
  form.Test();
  ASSERT_FALSE(script.messages.empty());
  EXPECT_EQ(script.messages.back().text, "0 files found in " + archive + " have been tested.");
  EXPECT_GE(script.passwordRequests, 1);
  script.Clear();
  script.passwordRequests = 0;

  // Extract the selected row into out; the first password is wrong.
  readme->setSelected(true);
  script.folders = {dir + "/out"};
  script.passwords = {QString("wrong"), QString("secret")};
  form.Extract();
  EXPECT_EQ(script.folderTitles, QStringList{"Select folder"});
  EXPECT_EQ(script.startFolders, QStringList{dir});
  EXPECT_EQ(form.ProgressForm->windowTitle(), "Extracting data.Zip");
  EXPECT_FALSE(form.ProgressForm->isVisible());
  EXPECT_TRUE(form.OperationFinished());
  ASSERT_FALSE(script.messages.empty());
  EXPECT_EQ(script.messages.back().text, "1 file uncompressed in " + dir + "/out");
  EXPECT_EQ(script.passwordRequests, 2);
  const std::filesystem::path extracted = tmp / "out" / S(readmePath + "readme.txt");
  EXPECT_EQ(ReadAll(extracted).size(), 5000u) << extracted;
  EXPECT_FALSE(std::filesystem::exists(tmp / "out" / "top.txt"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "out" / "data" / "top.txt"));
  // Extract clears the file list's selection, which empties the view.
  EXPECT_TRUE(form.FileListView->SelectedFiles().isEmpty());
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);

  // Test the whole archive.
  form.FileListView->SelectPaths({archive});
  script.Clear();
  script.passwords = {QString("secret"), QString("secret"), QString("secret")};
  form.Test();
  ASSERT_FALSE(script.messages.empty());
  EXPECT_EQ(script.messages.back().text, "3 files found in " + archive + " have been tested.");
  EXPECT_EQ(form.ProgressForm->windowTitle(), "Testing data.Zip");
  EXPECT_EQ(form.FileListView->SelectedFiles(), QStringList{archive});  // Test leaves the selection

  // Delete the archive from the disk.
  script.Clear();
  script.answers = {MsgResult::Yes};
  form.Delete();
  EXPECT_EQ(script.Texts().front(), "Are you sure you want to delete " + archive + "?");
  EXPECT_FALSE(QFileInfo::exists(archive));
}

TEST(Commands, CompressWithoutAPasswordAndToATypeNotBuilt) {
  TempFolder tmp;
  const QString dir = Str(tmp.path());
  MakeTree(tmp / "data");
  DialogScript script;
  TMainForm form({});
  ASSERT_TRUE(ShowFolder(form, dir, 1));
  form.FileListView->SelectPaths({dir + "/data"});
  // Blanks only are no password.
  form.CompressForm->ModalHook = Answer("plain", 0, "   ");
  form.Compress();
  EXPECT_EQ(form.Zip->EncryptionMethod(), emNone);
  EXPECT_EQ(form.Zip->Password(), "");
  EXPECT_EQ(script.messages.back().text, "3 files compressed into " + dir + "/plain.Zip");
  // Jar goes to the JAR writer.
  form.CompressForm->ModalHook = Answer("lib", 3, "");
  form.Compress();
  EXPECT_EQ(form.CurrentCompressor()->component, static_cast<TCustomCClass*>(form.Jar.get()));
  EXPECT_EQ(script.messages.back().text, "3 files compressed into " + dir + "/lib.Jar");
  // A type whose writer is not in this build names it.
  script.Clear();
  form.CompressForm->ModalHook = Answer("cabinet", 2, "");
  form.Compress();
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].text, "Error: 25244 File: " + dir + "/cabinet.Cab - TMakeCab is not part of this build - ");
  EXPECT_FALSE(QFileInfo::exists(dir + "/cabinet.Cab"));
}

TEST(Commands, TestUsesTheCommandLineArchiveUntilTheListIsTouched) {
  TempFolder tmp;
  WriteAll(tmp / "a.zip", zip::BuildZip(zip::ThreeEntries(), {}));
  DialogScript script;
  TMainForm form({Str(tmp / "a.zip")});
  form.show();
  QApplication::sendPostedEvents(&form);
  ASSERT_TRUE(form.OpenedFromCommandLine());
  form.Test();
  ASSERT_FALSE(script.messages.empty());
  EXPECT_EQ(script.messages.back().text, "3 files found in " + Str(tmp / "a.zip") + " have been tested.");
  EXPECT_TRUE(script.folderTitles.isEmpty());  // testing asks for no folder
}

}  // namespace
}  // namespace tessavar::test::app

namespace tessavar::test::app {
namespace {

TEST(Commands, ASplitSetStopsAtItsFirstVolumeChangeWithoutAVolumeHandler) {
  const std::filesystem::path split = FixturesDir() / "zip" / "infozip-split-64k.zip";
  if (!std::filesystem::exists(split)) GTEST_SKIP() << "no fixture corpus";
  DialogScript script;
  TMainForm form({Str(split)});
  form.show();
  QApplication::sendPostedEvents(&form);
  ASSERT_GT(form.ArchiveListView->ItemCount(), 0);
  script.Clear();
  form.Test();
  QStringList texts = script.Texts();
  ASSERT_GE(texts.size(), 2) << texts.join(" | ").toStdString();
  EXPECT_TRUE(texts.front().startsWith("Error: 25443 File: ")) << texts.join(" | ").toStdString();
  EXPECT_TRUE(texts.front().contains(" - OnNextVolume - ")) << texts.front().toStdString();
  EXPECT_EQ(script.messages.front().detail, "User canceled");
  EXPECT_TRUE(texts.back().endsWith(" have been tested.")) << texts.back().toStdString();
}

}  // namespace
}  // namespace tessavar::test::app
