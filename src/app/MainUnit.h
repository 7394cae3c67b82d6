#pragma once
// TMainForm: the main window. Folders and files on the left and in the
// middle, the content of the selected archive below them, and the four
// archive commands (Compress, Extract, Test, Delete).
#include <QEvent>
#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/ExeInfo.h"
#include "ui/Controls.h"
#include "ui/Dialogs.h"
#include "ui/ShellViews.h"

class QAction;
class QMenu;
class QSplitter;
class QStatusBar;
class QSystemTrayIcon;
class QToolBar;
class QToolButton;

namespace tessavar {
class TCustomDClass;
class TUnZip;
class TUnJar;
class TCustomCClass;
class TJar;
class TZip;
class TZipCommon;
class TZipTV;
}  // namespace tessavar

namespace tessavar::app {

using ui::MsgButtons;
using ui::MsgKind;
using ui::MsgResult;

class TAboutForm;
class TCompressForm;
class TProgressForm;

// The posted message that opens the archive named on the command line.
inline constexpr QEvent::Type WM_OPENARCHIVE = static_cast<QEvent::Type>(QEvent::User + 1);

// An extractor of the window, by the extensions that choose it. A type
// whose component is not part of this build has no component.
struct TExtractorSlot {
  const char* extension;  // lower case, with the dot
  const char* name;       // the component's name, "UnZip"
  TCustomDClass* component;
};

// A writer of the compress dialog's type list, by item index.
struct TWriterSlot {
  const char* name;  // the dialog's item, "Zip"
  const char* className;  // "TZip"
  TCustomCClass* component;
};

// The extensions whose files are stored without compression.
const TStrings& StoredFileTypes();

// Window size and place for a work area (FormShow).
QRect FormShowGeometry(const QRect& workArea);

// The view's date and time text (short date with the full year, time to the
// second, omitted at midnight) and its way back; NaN when unreadable.
QString FormatEntryDateTime(double dateTime);
double ParseEntryDateTime(const QString& text);

// The sort of the content view: by kind 0 and 3 ordinal text, 1 date-time,
// 2 integer; any other kind compares equal.
int CompareColumnText(const QString& x, const QString& y, int sortKind);
int CompareAscending(QTreeWidgetItem* a, QTreeWidgetItem* b, int column, int sortKind);
int CompareDescending(QTreeWidgetItem* a, QTreeWidgetItem* b, int column, int sortKind);

// The result boxes of the commands.
QString CompressResultText(int count, const QString& archive);
QString ExtractResultText(int count, const QString& folder);
QString TestResultText(int count, const QString& archive);

class TMainForm : public QMainWindow {
 public:
  // `arguments` are the program's command-line arguments without its name.
  explicit TMainForm(const QStringList& arguments, QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- Controls ----
  QMenu* FileMenu;
  QAction* CompressMenu;
  QAction* ExtractMenu;
  QAction* DeleteMenu;
  QAction* TestMenu;
  QAction* ExitMenu;
  QMenu* HelpMenu;
  QAction* TessavarHelpMenu;
  QAction* AboutMenu;
  QToolBar* ToolBar;
  QToolButton* CompressButton;
  QToolButton* ExtractButton;
  QToolButton* DeleteButton;
  QToolButton* TestButton;
  QWidget* ControlBar;
  ui::TShellComboBox* ShellComboBox;
  QSplitter* FolderSplitter;
  ui::TTitledPanel* FolderPanel;
  ui::TShellTreeView* FolderTreeView;
  ui::TTitledPanel* SelectionPanel;
  QSplitter* SelectionSplitter;
  ui::TShellListView* FileListView;
  ui::TTitledPanel* ArchivePanel;
  ui::TReportListView* ArchiveListView;
  QStatusBar* StatusBar;
  QSystemTrayIcon* TrayIcon;
  ui::TSkinMessage SkinMessage;
  ui::TPasswordDialog PasswordDialog;
  ui::TSelectDirectoryDialog ExtractSelectDirectoryDialog;
  TExeInfo ExeInfo;

  // ---- Archive components ----
  std::unique_ptr<TUnZip> UnZip;
  std::unique_ptr<TUnJar> UnJar;
  std::unique_ptr<TZipTV> ZipTV;
  std::unique_ptr<TZip> Zip;
  std::unique_ptr<TJar> Jar;
  std::vector<TExtractorSlot> Extractors;
  std::vector<TWriterSlot> WriterTable;

  // ---- The other windows ----
  std::unique_ptr<TProgressForm> ProgressForm;
  std::unique_ptr<TAboutForm> AboutForm;
  std::unique_ptr<TCompressForm> CompressForm;

  // ---- State ----
  const QString& CurrentArchive() const { return currentArchive_; }
  bool OpenedFromCommandLine() const { return openedFromCommandLine_; }
  const TExtractorSlot* CurrentExtractor() const { return currentExtractor_; }
  const TWriterSlot* CurrentCompressor() const { return currentCompressor_; }
  bool OperationFinished() const { return operationFinished_; }
  int SortColumn() const { return sortColumn_; }
  bool SortDescendingNext() const { return sortDescendingNext_; }
  const QString& ProgramDir() const { return programDir_; }

  // ---- Handlers ----
  void FormCreate();
  void FormShow();
  void FormResize();
  void OpenCommandLineArchive();
  void Compress();
  void Extract();
  void Test();
  void Delete();
  void ExitMenuClick();
  void TessavarHelpMenuClick();
  void AboutMenuClick();
  void FileListViewChange();
  void ArchiveListViewColumnClick(int column);
  void ZipTVRead();
  void ZipTVTotals();
  void ComponentBegin(const std::string& FileName);
  void ComponentEnd();
  void ComponentProgress(uint8_t ByFile, uint8_t ByArchive);
  void UnZipGetPassword(std::string& Password, bool& TryAgain);
  void Error(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID, int ECode);

  // Sets CurrentExtractor by the extension of the path.
  const TExtractorSlot* ExtractorForFile(const QString& path);
  void ListSelectedArchive();
  // The text of the error box for one report.
  static QString ErrorText(const std::string& FileName, const std::string& ExtendedMsg,
                           const std::string& VolumeID, int ECode);
  // Opens a document with the desktop's default program; a seam for tests.
  static std::function<bool(const QString& path)>& DocumentOpener();
  // The folder the window shows.
  QString Folder() const { return link_.Folder(); }
  void SetFolder(const QString& folder) { link_.SetFolder(folder); }

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  void SetUpComponents();
  void AttachEvents(TZipCommon& component);
  // The selected folders and files; false (after saying so) when there are none.
  bool TakeSelection(QStringList& folders, QStringList& files);
  // Extract and Test share all but the run itself.
  void RunExtractor(bool test);
  QString ArchiveForCommand(bool& ok);
  void StartProgress(const QString& caption);
  void EndProgress();
  void ReportMissingComponent(const std::string& className, const QString& archive);
  // Lists ArchiveFile into the view; a selection change while it runs
  // ends it and lists the new selection afterwards.
  void RunListing(const QString& archive);
  QIcon IconFor(const std::string& name, bool folder);

  QStringList arguments_;
  QString currentArchive_;
  bool openedFromCommandLine_ = false;
  const TExtractorSlot* currentExtractor_ = nullptr;
  const TWriterSlot* currentCompressor_ = nullptr;
  bool operationFinished_ = false;
  bool commandRunning_ = false;
  bool relistPending_ = false;
  bool quietCancel_ = false;
  int sortColumn_ = -1;
  bool sortDescendingNext_ = false;
  int sortKind_ = 0;
  QString programDir_;
  ui::TShellLink link_;
  QHash<QString, QIcon> iconCache_;
  std::function<void()> previousProcessHook_;
  std::function<std::string(const std::string&)> previousTypeNames_;
};

}  // namespace tessavar::app
