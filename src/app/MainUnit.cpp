#include "app/MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "app/AboutUnit.h"
#include "app/CompressUnit.h"
#include "app/ProgressUnit.h"
#include "archive/formats/ztvZipTV.h"
#include "archive/frame/ztvErrors.h"
#include "archive/write/ztvJar.h"
#include "archive/write/ztvZip.h"
#include "archive/zip/ztvUnZip.h"
#include "platform/Application.h"
#include "platform/File.h"
#include "platform/Shell.h"
#include "platform/Time.h"

namespace tessavar::app {
namespace {

constexpr double kMillisecond = 1.0 / 86400000.0;

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The part after the last "/".
QString NamePart(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

// The components promise their events on the caller's thread; should one
// come from a worker anyway, the windows are not touched from there.
bool OnGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// The formats are taken once: a listing formats every entry's date.
const QString& DateFormat() {
  static const QString format = [] {
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    // Two-digit years read back into the wrong century, so the year is shown whole.
    if (!f.contains("yyyy")) f.replace("yy", "yyyy");
    return f;
  }();
  return format;
}

const QString& TimeFormat() {
  static const QString format = [] {
    QString f = QLocale().timeFormat(QLocale::LongFormat);
    // The long format may name the time zone, which cannot be read back.
    f.remove(QRegularExpression("\\s*\\bt+\\b"));
    return f.trimmed();
  }();
  return format;
}

// The type of a name by its extensions, looked up once per extension.
QMimeType MimeFor(const QString& name) {
  static const QMimeDatabase db;
  static QHash<QString, QMimeType> cache;
  const QString base = name.mid(name.lastIndexOf('/') + 1).toLower();
  const qsizetype dot = base.indexOf('.');
  const QString key = dot >= 0 ? base.mid(dot) : base;
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.insert(key, db.mimeTypeForFile(base, QMimeDatabase::MatchExtension));
  return it.value();
}

QDateTime ToQDateTime(double dateTime) {
  double days = std::floor(dateTime);
  auto ms = static_cast<qint64>(std::llround((dateTime - days) * 86400000.0));
  if (ms >= 86400000) {
    days += 1;
    ms -= 86400000;
  }
  return QDateTime(QDate(1899, 12, 30).addDays(static_cast<qint64>(days)),
                   QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

double FromQDateTime(const QDateTime& dt) {
  return static_cast<double>(QDate(1899, 12, 30).daysTo(dt.date())) +
         dt.time().msecsSinceStartOfDay() / 86400000.0;
}

// Equal within a millisecond; unreadable values go first, so the order stays consistent.
int CompareDateTimes(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) == std::isnan(b) ? 0 : (std::isnan(a) ? -1 : 1);
  if (std::fabs(a - b) < kMillisecond) return 0;
  return a < b ? -1 : 1;
}

QIcon Themed(const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

}  // namespace

QRect FormShowGeometry(const QRect& workArea) {
  const int W = workArea.width(), H = workArea.height();
  const int width = W - W / 10;
  // The height loses a tenth of the width too, the same margin on all sides.
  const int height = H - W / 10;
  return QRect(workArea.left() + (W - width) / 2, workArea.top() + (H - height) / 2, width, height);
}

QString FormatEntryDateTime(double dateTime) {
  const QDateTime dt = ToQDateTime(dateTime);
  QLocale locale;
  QString text = locale.toString(dt.date(), DateFormat());
  if (dt.time() != QTime(0, 0)) text += " " + locale.toString(dt.time(), TimeFormat());
  return text;
}

double ParseEntryDateTime(const QString& text) {
  QLocale locale;
  QDateTime dt = locale.toDateTime(text, DateFormat() + " " + TimeFormat());
  if (!dt.isValid()) {
    const QDate d = locale.toDate(text, DateFormat());
    if (!d.isValid()) return std::numeric_limits<double>::quiet_NaN();
    dt = QDateTime(d, QTime(0, 0));
  }
  return FromQDateTime(dt);
}

int CompareColumnText(const QString& x, const QString& y, int sortKind) {
  switch (sortKind) {
    case 0:
    case 3: {
      // Ordinal: by character codes, no locale.
      const int c = QString::compare(x, y, Qt::CaseSensitive);
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case 1: {
      return CompareDateTimes(ParseEntryDateTime(x), ParseEntryDateTime(y));
    }
    case 2: {
      const qlonglong a = x.toLongLong(), b = y.toLongLong();
      return a < b ? -1 : (a > b ? 1 : 0);
    }
    default: return 0;
  }
}

namespace {
// Reading a date back from its text is slow; a sort reads each cell once and
// keeps the value with the row.
double DateCell(QTreeWidgetItem* row, int column) {
  const QVariant cached = row->data(column, Qt::UserRole);
  if (cached.isValid()) return cached.toDouble();
  const double value = ParseEntryDateTime(row->text(column));
  row->setData(column, Qt::UserRole, value);
  return value;
}

int CompareDateCells(QTreeWidgetItem* a, QTreeWidgetItem* b, int column) {
  return CompareDateTimes(DateCell(a, column), DateCell(b, column));
}

int CompareRows(QTreeWidgetItem* a, QTreeWidgetItem* b, int column, int sortKind) {
  if (column == 0) return CompareColumnText(a->text(0), b->text(0), sortKind);
  const bool aHas = a->columnCount() > column, bHas = b->columnCount() > column;
  if (aHas && bHas && sortKind == 1) return CompareDateCells(a, b, column);
  if (aHas && bHas) return CompareColumnText(a->text(column), b->text(column), sortKind);
  if (aHas == bHas) return 0;
  // Ascending, a row with the cell goes after one without it.
  return aHas ? 1 : -1;
}
}  // namespace

int CompareAscending(QTreeWidgetItem* a, QTreeWidgetItem* b, int column, int sortKind) {
  return CompareRows(a, b, column, sortKind);
}
int CompareDescending(QTreeWidgetItem* a, QTreeWidgetItem* b, int column, int sortKind) {
  return CompareRows(b, a, column, sortKind);
}

const TStrings& StoredFileTypes() {
  static const TStrings types = {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",  ".JAR",
                                 ".LHA", ".LZH", ".MIM", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR", ".TGZ",
                                 ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO", ".ZTV"};
  return types;
}

QString CompressResultText(int count, const QString& archive) {
  return QString::number(count) + " files compressed into " + archive;
}
QString ExtractResultText(int count, const QString& folder) {
  return count == 1 ? "1 file uncompressed in " + folder : QString::number(count) + " files uncompressed in " + folder;
}
QString TestResultText(int count, const QString& archive) {
  return count == 1 ? "1 file found in " + archive + " has been tested."
                    : QString::number(count) + " files found in " + archive + " have been tested.";
}

// ---------------------------------------------------------------------------

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent),
      SkinMessage(this),
      PasswordDialog(this),
      ExtractSelectDirectoryDialog(this),
      arguments_(arguments) {
  setWindowTitle("Tessavar");
  BuildControls();
  SetUpComponents();
  FormCreate();
  resize(853, 465);
  ProgressForm = std::make_unique<TProgressForm>(this, [this] { return operationFinished_; });
  ProgressForm->LinkLabel->setText(GuideLink(programDir_));
  AboutForm = std::make_unique<TAboutForm>(this, ExeInfo, programDir_);
  CompressForm = std::make_unique<TCompressForm>(this);
}

TMainForm::~TMainForm() {
  platform::SetProcessMessagesHook(previousProcessHook_);
  platform::SetShellTypeNameProvider(previousTypeNames_);
  // The child windows go before the components their handlers use.
  CompressForm.reset();
  AboutForm.reset();
  ProgressForm.reset();
}

void TMainForm::BuildControls() {
  const QIcon compressIcon = Themed("archive-insert", QStyle::SP_FileDialogNewFolder);
  const QIcon extractIcon = Themed("archive-extract", QStyle::SP_DialogSaveButton);
  const QIcon deleteIcon = Themed("edit-delete", QStyle::SP_TrashIcon);
  const QIcon testIcon = Themed("dialog-ok-apply", QStyle::SP_DialogApplyButton);
  const QIcon helpIcon = Themed("help-contents", QStyle::SP_DialogHelpButton);

  FileMenu = menuBar()->addMenu("&File");
  CompressMenu = FileMenu->addAction(compressIcon, "&Compress");
  ExtractMenu = FileMenu->addAction(extractIcon, "&Extract");
  DeleteMenu = FileMenu->addAction(deleteIcon, "&Delete");
  TestMenu = FileMenu->addAction(testIcon, "&Test");
  FileMenu->addSeparator();
  ExitMenu = FileMenu->addAction("E&xit");
  ExitMenu->setShortcut(QKeySequence::Quit);
  HelpMenu = menuBar()->addMenu("&Help");
  TessavarHelpMenu = HelpMenu->addAction(helpIcon, "&Tessavar Help");
  TessavarHelpMenu->setShortcut(QKeySequence::HelpContents);
  AboutMenu = HelpMenu->addAction("&About...");

  ToolBar = addToolBar("ToolBar");
  ToolBar->setMovable(false);
  ToolBar->setFixedHeight(25);
  ToolBar->setIconSize(QSize(16, 16));
  auto button = [this](const QIcon& icon, const QString& caption) {
    auto* b = new QToolButton(ToolBar);
    b->setIcon(icon);
    b->setText(caption);
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // 80 wide, or what the caption beside its icon needs in a larger font.
    b->setMinimumWidth(80);
    b->setAutoRaise(true);
    ToolBar->addWidget(b);
    return b;
  };
  CompressButton = button(compressIcon, "Compress");
  ExtractButton = button(extractIcon, "Extract");
  DeleteButton = button(deleteIcon, "Delete");
  TestButton = button(testIcon, "Test");

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  ControlBar = new QWidget(central);
  auto* barLayout = new QHBoxLayout(ControlBar);
  barLayout->setContentsMargins(2, 2, 2, 2);
  ShellComboBox = new ui::TShellComboBox(ControlBar);
  ShellComboBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  barLayout->addWidget(ShellComboBox);
  layout->addWidget(ControlBar);

  FolderSplitter = new QSplitter(Qt::Horizontal, central);
  FolderSplitter->setHandleWidth(10);
  FolderSplitter->setChildrenCollapsible(false);
  FolderPanel = new ui::TTitledPanel("Folder Navigation View", false, FolderSplitter);
  FolderTreeView = new ui::TShellTreeView(FolderPanel);
  FolderPanel->AddWidget(FolderTreeView, 1);
  SelectionPanel = new ui::TTitledPanel("Folder(s) and File(s) Selection View", false, FolderSplitter);
  SelectionSplitter = new QSplitter(Qt::Vertical, SelectionPanel);
  SelectionSplitter->setHandleWidth(10);
  SelectionSplitter->setChildrenCollapsible(false);
  FileListView = new ui::TShellListView(ui::TShellListView::Style::Report, SelectionSplitter);
  FileListView->SetMask("*.*|*.*");
  ArchivePanel = new ui::TTitledPanel("Archive Content View", true, SelectionSplitter);
  ArchiveListView = new ui::TReportListView(ArchivePanel);
  ArchivePanel->AddWidget(ArchiveListView, 1);
  SelectionPanel->AddWidget(SelectionSplitter, 1);
  FolderSplitter->addWidget(FolderPanel);
  FolderSplitter->addWidget(SelectionPanel);
  FolderSplitter->setStretchFactor(1, 1);
  FolderSplitter->setSizes({241, 612});
  layout->addWidget(FolderSplitter, 1);
  setCentralWidget(central);

  StatusBar = statusBar();
  StatusBar->setFixedHeight(21);
  StatusBar->setSizeGripEnabled(true);

  TrayIcon = new QSystemTrayIcon(this);
  TrayIcon->setToolTip("Tessavar");
  TrayIcon->setIcon(QIcon(QPixmap::fromImage(TessavarPicture(QSize(32, 32)).toImage())));

  link_.Link(ShellComboBox, FolderTreeView, FileListView);

  connect(CompressButton, &QToolButton::clicked, this, [this] { Compress(); });
  connect(CompressMenu, &QAction::triggered, this, [this] { Compress(); });
  connect(ExtractButton, &QToolButton::clicked, this, [this] { Extract(); });
  connect(ExtractMenu, &QAction::triggered, this, [this] { Extract(); });
  connect(DeleteButton, &QToolButton::clicked, this, [this] { Delete(); });
  connect(DeleteMenu, &QAction::triggered, this, [this] { Delete(); });
  connect(TestButton, &QToolButton::clicked, this, [this] { Test(); });
  connect(TestMenu, &QAction::triggered, this, [this] { Test(); });
  connect(ExitMenu, &QAction::triggered, this, [this] { ExitMenuClick(); });
  connect(TessavarHelpMenu, &QAction::triggered, this, [this] { TessavarHelpMenuClick(); });
  connect(AboutMenu, &QAction::triggered, this, [this] { AboutMenuClick(); });
  FileListView->OnChange = [this] { FileListViewChange(); };
  connect(ArchiveListView->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { ArchiveListViewColumnClick(column); });
}

void TMainForm::AttachEvents(TZipCommon& c) {
  c.OnError = [this](TObject*, const std::string& file, const std::string& ext, const std::string& vol, int code) {
    Error(file, ext, vol, code);
  };
  c.OnBegin = [this](TObject*, const std::string& file, int, bool&) { ComponentBegin(file); };
  c.OnEnd = [this](TObject*, const std::string&, bool) { ComponentEnd(); };
  c.OnProgress = [this](TObject*, uint8_t byFile, uint8_t byArchive) { ComponentProgress(byFile, byArchive); };
}

void TMainForm::SetUpComponents() {
  UnZip = std::make_unique<TUnZip>();
  UnZip->SetName("UnZip");
  UnJar = std::make_unique<TUnJar>();
  UnJar->SetName("UnJar");
  for (TUnZip* u : {static_cast<TUnZip*>(UnZip.get()), static_cast<TUnZip*>(UnJar.get())}) {
    u->SetCpuType(cptAuto);
    u->SetCreateStoredDirs(true);
    u->SeedDataKeys().SetKey0(0);
    u->SeedDataKeys().SetKey1(0);
    u->SeedDataKeys().SetKey2(0);
    AttachEvents(*u);
  }
  UnZip->OnGetPassword = [this](TObject*, const std::string&, std::string& password, TSeedKeyValues&,
                                TSeedKeyValues&, bool& tryAgain) { UnZipGetPassword(password, tryAgain); };

  ZipTV = std::make_unique<TZipTV>();
  ZipTV->SetName("ZipTV");
  ZipTV->SetRecurseDirs(true);
  ZipTV->SetShowEmptyDirs(true);
  ZipTV->OnRead = [this](TObject*, int, int) { ZipTVRead(); };
  ZipTV->OnTotals = [this](TObject*, int64_t, int64_t, int, int) { ZipTVTotals(); };
  ZipTV->OnError = [this](TObject*, const std::string& file, const std::string& ext, const std::string& vol,
                          int code) { Error(file, ext, vol, code); };

  // The types whose components are not in this build keep their place, so
  // the window names the missing component instead of ignoring the file.
  Extractors = {
      {".zip", "UnZip", UnZip.get()}, {".lha", "UnLha", nullptr}, {".cab", "UnCab", nullptr},
      {".jar", "UnJar", UnJar.get()}, {".rar", "UnRar", nullptr}, {".gz", "UnGZip", nullptr},
      {".tar", "UnTar", nullptr},
  };
  Zip = std::make_unique<TZip>();
  Zip->SetName("Zip");
  Jar = std::make_unique<TJar>();
  Jar->SetName("Jar");
  for (TZip* z : {Zip.get(), static_cast<TZip*>(Jar.get())}) {
    z->SetCompressMethod(cmDeflate);
    z->SetStoredDirNames(sdRelativeStoreStart);
    z->SetStoreEmptySubDirs(true);
    z->SetStoreFilesOfType(StoredFileTypes());
    z->SetSwitch(swAdd);
    z->SetDeleteOptions(doAllowUndo);
    z->SetAttributes({fsZeroAttr, fsReadOnly, fsArchive, fsCompressed, fsEncrypted});
    z->SetAttributesEx({});
    z->SeedDataKeys().SetKey0(0);
    z->SeedDataKeys().SetKey1(0);
    z->SeedDataKeys().SetKey2(0);
    AttachEvents(*z);
  }
  Zip->SetArcType(atZip);
  Zip->SetDefaultExt(".zip");
  Jar->SetArcType(atJar);
  Jar->SetDefaultExt(".jar");
  WriterTable = {
      {"Zip", "TZip", Zip.get()}, {"Lha", "TLha", nullptr}, {"Cab", "TMakeCab", nullptr}, {"Jar", "TJar", Jar.get()}};

  previousProcessHook_ = platform::SetProcessMessagesHook([] {
    if (OnGuiThread()) QCoreApplication::processEvents();
  });
  previousTypeNames_ = platform::SetShellTypeNameProvider([](const std::string& name) -> std::string {
    if (!OnGuiThread()) return {};
    const QMimeType mime = MimeFor(Q(name));
    return mime.isValid() && !mime.isDefault() ? S(mime.comment()) : std::string();
  });
}

void TMainForm::FormCreate() {
  operationFinished_ = false;
  sortKind_ = 0;
  currentArchive_.clear();
  sortColumn_ = -1;
  sortDescendingNext_ = false;
  openedFromCommandLine_ = false;
  programDir_ = QCoreApplication::applicationDirPath() + "/";
  ArchiveListView->setIconSize(QSize(16, 16));
  ArchiveListView->ClearColumns();
  // Name, Size, Type and Modified take the file list's captions.
  QAbstractItemModel* files = FileListView->Model();
  auto caption = [files](int c) { return files->headerData(c, Qt::Horizontal).toString(); };
  ArchiveListView->AddColumn(caption(0), 200, Qt::AlignLeft, 0);
  ArchiveListView->AddColumn(caption(1), 100, Qt::AlignRight, 2);
  ArchiveListView->AddColumn("Packed", 100, Qt::AlignRight, 2);
  ArchiveListView->AddColumn(caption(2), 130, Qt::AlignLeft, 0);
  ArchiveListView->AddColumn(caption(3), 130, Qt::AlignLeft, 1);
  ArchiveListView->AddColumn("CRC", 70, Qt::AlignRight, 3);
  ArchiveListView->AddColumn("Path", 100, Qt::AlignLeft, 0, true);
  link_.SetFolder(QDir::currentPath());
}

bool TMainForm::event(QEvent* e) {
  if (e->type() == WM_OPENARCHIVE) {
    OpenCommandLineArchive();
    return true;
  }
  return QMainWindow::event(e);
}

void TMainForm::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // A window coming back from the task bar is not shown anew.
  if (!e->spontaneous()) FormShow();
}

void TMainForm::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  FormResize();
}

void TMainForm::FormShow() {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (s) {
    const QRect g = FormShowGeometry(s->availableGeometry());
    resize(g.size());
    move(g.topLeft());
  }
  QCoreApplication::postEvent(this, new QEvent(WM_OPENARCHIVE));  // the queue owns it
}

void TMainForm::FormResize() {
  const int w = StatusBar->width();
  FolderSplitter->setSizes({w / 4, std::max(0, w - w / 4 - FolderSplitter->handleWidth())});
  if (!ArchivePanel->RolledUp()) {
    const int h = SelectionSplitter->height();
    const int half = SelectionPanel->height() / 2;
    SelectionSplitter->setSizes({std::max(0, h - half - SelectionSplitter->handleWidth()), half});
  }
}

void TMainForm::OpenCommandLineArchive() {
  if (arguments_.size() != 1) return;
  openedFromCommandLine_ = true;
  WaitCursor wait;
  currentArchive_ = arguments_.front();
  if (ExtractorForFile(currentArchive_)) {
    ArchivePanel->SetCaption(currentArchive_);
    RunListing(currentArchive_);
  } else {
    ArchivePanel->SetCaption("Archive Content View");
  }
}

const TExtractorSlot* TMainForm::ExtractorForFile(const QString& path) {
  const QString name = NamePart(path);
  const qsizetype dot = name.lastIndexOf('.');
  const QString ext = dot >= 0 ? name.mid(dot).toLower() : QString();
  currentExtractor_ = nullptr;
  if (!ext.isEmpty())
    for (const TExtractorSlot& slot : Extractors)
      if (ext == slot.extension) currentExtractor_ = &slot;
  return currentExtractor_;
}

void TMainForm::ListSelectedArchive() {
  const QStringList folders = FileListView->SelectedFolders();
  const QStringList files = FileListView->SelectedFiles();
  if (!folders.isEmpty() || files.size() != 1) return;
  RunListing(files.front());
}

void TMainForm::RunListing(const QString& archive) {
  ZipTV->SetArchiveFileName(S(archive));
  ZipTV->SetFileSpec({"*.*"});
  ArchiveListView->BeginUpdate();
  ZipTV->Activate();
  ArchiveListView->EndUpdate();
  quietCancel_ = false;
  if (relistPending_) {
    relistPending_ = false;
    FileListViewChange();
  }
}

void TMainForm::FileListViewChange() {
  if (openedFromCommandLine_) openedFromCommandLine_ = false;
  const QString selected = FileListView->SelectedPath();
  if (selected == currentArchive_) return;
  // A listing still running belongs to the archive no longer selected: it
  // ends, quietly, and the new selection is listed after it.
  if (ZipTV->Busy()) {
    relistPending_ = true;
    quietCancel_ = true;
    ZipTV->SetCancelled(true);
    return;
  }
  ArchiveListView->ClearColumnImages();
  WaitCursor wait;
  currentArchive_ = selected;
  ExtractorForFile(selected);
  ArchiveListView->ClearItems();
  if (currentExtractor_) {
    ArchivePanel->SetCaption(selected);
    ListSelectedArchive();
  } else {
    ArchivePanel->SetCaption("Archive Content View");
  }
}

QIcon TMainForm::IconFor(const std::string& name, bool folder) {
  if (folder) return Themed("folder", QStyle::SP_DirIcon);
  const QMimeType mime = MimeFor(Q(name));
  auto it = iconCache_.find(mime.name());
  if (it != iconCache_.end()) return it.value();
  QIcon icon = QIcon::fromTheme(mime.iconName(),
                                QIcon::fromTheme(mime.genericIconName(), style()->standardIcon(QStyle::SP_FileIcon)));
  iconCache_.insert(mime.name(), icon);
  return icon;
}

void TMainForm::ZipTVRead() {
  // Rows of a listing that a new selection cancelled are not shown.
  if (ZipTV->Cancelled()) return;
  QTreeWidgetItem* row = ArchiveListView->AddItem();
  const std::string& name = ZipTV->FileName();
  const bool folder = (ZipTV->ExternalAttr & 0x10) != 0;
  const QString full = Q(name);
  // A folder shows its whole stored name; a file its name, with the rest in Path.
  row->setText(0, folder ? full : NamePart(full));
  row->setIcon(0, IconFor(name, folder));
  row->setText(1, QString::number(static_cast<qlonglong>(ZipTV->UnpackedSize)));
  row->setText(2, QString::number(static_cast<qlonglong>(ZipTV->PackedSize)));
  if (folder) {
    static const QString folderType = QMimeDatabase().mimeTypeForName("inode/directory").comment();
    row->setText(3, folderType);
  } else {
    row->setText(3, Q(ZipTV->GetFileTypeName(name)));
  }
  row->setText(4, FormatEntryDateTime(ZipTV->FileDateTime));
  row->setText(5, QString("%1").arg(ZipTV->FileCRC, 8, 16, QChar('0')).toUpper());
  row->setText(6, folder ? QString() : full.left(full.lastIndexOf('/') + 1));
}

void TMainForm::ZipTVTotals() { ArchiveListView->viewport()->update(); }

void TMainForm::ArchiveListViewColumnClick(int column) {
  ExtractorForFile(openedFromCommandLine_ ? currentArchive_ : FileListView->SelectedPath());
  if (!currentExtractor_) return;
  sortKind_ = ArchiveListView->ColumnTag(column);
  bool ascending;
  if (column != sortColumn_) {
    ascending = true;
    sortDescendingNext_ = true;
    sortColumn_ = column;
  } else if (sortDescendingNext_) {
    ascending = false;
    sortDescendingNext_ = false;
  } else {
    ascending = true;
    sortDescendingNext_ = true;
  }
  const int kind = sortKind_;
  ArchiveListView->CustomSort(
      [kind, ascending](QTreeWidgetItem* a, QTreeWidgetItem* b, int c) {
        return ascending ? CompareAscending(a, b, c, kind) : CompareDescending(a, b, c, kind);
      },
      column);
}

// ---- Commands ----

void TMainForm::StartProgress(const QString& caption) {
  ProgressForm->setWindowTitle(caption);
  operationFinished_ = false;
  ProgressForm->LogoPanel->SetCaption(FormatEntryDateTime(platform::Now()));
  ProgressForm->SetFileGaugeText(QString());
  ProgressForm->ShowProgress();
}

void TMainForm::EndProgress() {
  operationFinished_ = true;
  ProgressForm->close();
}

void TMainForm::ReportMissingComponent(const std::string& className, const QString& archive) {
  Error(S(archive), className + " is not part of this build", "", E_INVALIDARC);
}

bool TMainForm::TakeSelection(QStringList& folders, QStringList& files) {
  folders = FileListView->SelectedFolders();
  files = FileListView->SelectedFiles();
  if (!folders.isEmpty() || !files.isEmpty()) return true;
  SkinMessage.MessageDlg("At least 1 file or 1 folder must be selected.", MsgKind::Error, MsgButtons::OK);
  return false;
}

void TMainForm::Compress() {
  // One archive operation at a time: the components are not reentrant.
  QStringList folders, files;
  if (commandRunning_ || !TakeSelection(folders, files)) return;
  CompressForm->ArchiveName->setText(folders.size() == 1 ? NamePart(folders.front()) : QString());
  if (!CompressForm->Execute(FileListView->Folder())) return;
  const int type = CompressForm->ArchiveType->currentIndex();
  if (type < 0 || type >= static_cast<int>(WriterTable.size())) return;
  const TWriterSlot& writerSlot = WriterTable[static_cast<size_t>(type)];
  currentCompressor_ = &writerSlot;
  const QString archive = CompressForm->ArchiveName->text();
  if (!writerSlot.component) {
    ReportMissingComponent(writerSlot.className, archive);
    return;
  }
  TCustomCClass& writer = *writerSlot.component;
  writer.SetArchiveFileName(S(archive));
  const std::string password = S(TrimControl(CompressForm->Password->text()));
  writer.SetPassword(password);
  if (!password.empty()) {
    writer.SetEncryptionMethod(emAES2_256);
    writer.SetEncryptHeaders(CompressForm->EncryptHeaders->isChecked());
  } else {
    writer.SetEncryptionMethod(emNone);
  }
  TStrings spec;
  for (const QString& f : folders) spec.push_back(S(f + "/*.*"));
  for (const QString& f : files) spec.push_back(S(f));
  writer.SetFileSpec(spec);
  commandRunning_ = true;
  StartProgress("Compressing " + NamePart(archive));
  const int n = writer.Compress();
  SkinMessage.MessageDlg(CompressResultText(n, archive), MsgKind::Information, MsgButtons::OK);
  EndProgress();
  commandRunning_ = false;
  FileListView->Refresh();
}

QString TMainForm::ArchiveForCommand(bool& ok) {
  ok = false;
  if (openedFromCommandLine_) {
    ok = true;
    return currentArchive_;
  }
  if (!FileListView->SelectedFolders().isEmpty()) {
    SkinMessage.MessageDlg("There is at least 1 folder selected.", MsgKind::Error, MsgButtons::OK);
    return {};
  }
  const QStringList files = FileListView->SelectedFiles();
  if (files.size() != 1) {
    SkinMessage.MessageDlg("You must select 1 compressed file.", MsgKind::Error, MsgButtons::OK);
    return {};
  }
  ok = true;
  return files.front();
}

void TMainForm::RunExtractor(bool test) {
  if (commandRunning_) return;
  bool ok;
  const QString archive = ArchiveForCommand(ok);
  if (!ok) return;
  const TExtractorSlot* slot = ExtractorForFile(archive);
  if (!slot) {
    SkinMessage.MessageDlg("Unknown file type. Please, select an Archive File.", MsgKind::Error, MsgButtons::OK);
    return;
  }
  if (!test) {
    ExtractSelectDirectoryDialog.SetDirectory(QFileInfo(archive).absolutePath());
    if (!ExtractSelectDirectoryDialog.Execute()) return;
  }
  if (!slot->component) {
    ReportMissingComponent(std::string("T") + slot->name, archive);
    return;
  }
  TCustomDClass& extractor = *slot->component;
  const QString folder = ExtractSelectDirectoryDialog.Directory();
  extractor.SetArchiveFileName(S(archive));
  extractor.SetExtractDir(S(folder));
  TStrings spec;
  for (QTreeWidgetItem* row : ArchiveListView->SelectedItems()) spec.push_back(S(row->text(6) + row->text(0)));
  if (spec.empty()) spec.push_back("*.*");
  extractor.SetFileSpec(spec);
  commandRunning_ = true;
  StartProgress((test ? "Testing " : "Extracting ") + NamePart(archive));
  const int n = test ? extractor.Test() : extractor.Extract();
  if (test)
    SkinMessage.MessageDlg(TestResultText(n, Q(extractor.ArchiveFile())), MsgKind::Information, MsgButtons::OK);
  else
    SkinMessage.MessageDlg(ExtractResultText(n, folder), MsgKind::Information, MsgButtons::OK);
  EndProgress();
  commandRunning_ = false;
  if (!test) {
    FileListView->ClearSelection();
    FileListView->Refresh();
  }
}

void TMainForm::Extract() { RunExtractor(false); }
void TMainForm::Test() { RunExtractor(true); }

void TMainForm::Delete() {
  // Taken once: refreshing the list must not change what is asked.
  QStringList folders, files;
  if (commandRunning_ || !TakeSelection(folders, files)) return;
  auto ask = [this](const QString& path) {
    return SkinMessage.MessageDlg("Are you sure you want to delete " + path + "?", MsgKind::Confirmation,
                                  MsgButtons::YesNo) == MsgResult::Yes;
  };
  auto failed = [this](const QString& what, const QString& path, int error) {
    SkinMessage.MessageDlg("The " + what + " " + path + " could not be deleted.", MsgKind::Error, MsgButtons::OK,
                           error ? QString::fromLocal8Bit(std::strerror(error)) : QString());
  };
  for (const QString& file : files) {
    if (!ask(file)) continue;
    errno = 0;
    if (!platform::DeleteFile(S(file))) failed("file", file, errno);
    FileListView->Refresh();
  }
  for (const QString& folder : folders) {
    if (!ask(folder)) continue;
    errno = 0;
    if (!platform::RemoveTree(S(folder))) failed("folder", folder, errno);
    FileListView->Refresh();
  }
}

void TMainForm::ExitMenuClick() { close(); }

std::function<bool(const QString&)>& TMainForm::DocumentOpener() {
  static std::function<bool(const QString&)> opener = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };
  return opener;
}

void TMainForm::TessavarHelpMenuClick() {
  if (auto& open = DocumentOpener()) open(programDir_ + "Documentation/Tessavar.html");
}

void TMainForm::AboutMenuClick() { AboutForm->exec(); }

// ---- Component events ----

void TMainForm::ComponentBegin(const std::string& FileName) {
  if (!OnGuiThread()) return;
  const QString name = Q(FileName);
  ProgressForm->SetFileGaugeText(name.mid(name.lastIndexOf('/') + 1));
}

void TMainForm::ComponentEnd() {
  if (OnGuiThread()) ProgressForm->SetFileGaugeText(QString());
}

void TMainForm::ComponentProgress(uint8_t ByFile, uint8_t ByArchive) {
  if (!OnGuiThread()) return;
  ProgressForm->ArchiveGauge->setValue(ByArchive);
  ProgressForm->FileGauge->setValue(ByFile);
}

void TMainForm::UnZipGetPassword(std::string& Password, bool& TryAgain) {
  QString entered;
  if (PasswordDialog.Execute(entered))
    Password = S(entered);
  else
    TryAgain = false;
}

QString TMainForm::ErrorText(const std::string& FileName, const std::string& ExtendedMsg,
                             const std::string& VolumeID, int ECode) {
  return "Error: " + QString::number(ECode) + " File: " + Q(FileName) + " - " + Q(ExtendedMsg) + " - " + Q(VolumeID);
}

void TMainForm::Error(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                      int ECode) {
  if (quietCancel_ && ECode == E_USERCANCEL) return;
  const QString text = ErrorText(FileName, ExtendedMsg, VolumeID, ECode);
  const QString detail = Q(MessageOf(ECode));
  if (!OnGuiThread()) {
    // Shown once the event loop runs again; a worker never waits for a person.
    QMetaObject::invokeMethod(
        this, [this, text, detail] { SkinMessage.MessageDlg(text, MsgKind::Error, MsgButtons::OK, detail); },
        Qt::QueuedConnection);
    return;
  }
  SkinMessage.MessageDlg(text, MsgKind::Error, MsgButtons::OK, detail);
}

}  // namespace tessavar::app
