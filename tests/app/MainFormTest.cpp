// The main window: start-up, geometry, the content view's rows and sorting.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <cmath>

#include "AppTestUtil.h"
#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "app/MainUnit.h"
#include "archive/formats/ztvZipTV.h"
#include "archive/zip/ztvUnZip.h"
#include "ui/Controls.h"

namespace tessavar::test::app {
namespace {

using tessavar::app::TMainForm;

QString Demo() { return QString::fromStdString((SourceDir() / "samples" / "demo.zip").string()); }

QStringList Column(const TMainForm& form, int c) {
  QStringList out;
  for (int i = 0; i < form.ArchiveListView->ItemCount(); ++i) out << form.ArchiveListView->Item(i)->text(c);
  return out;
}

// Shows the window and lets the posted open-archive message arrive.
void ShowAndSettle(TMainForm& form) {
  form.show();
  QApplication::sendPostedEvents(&form);
  QApplication::processEvents();
}

TEST(MainForm, ExtractorForFileGoesByTheLowerCasedExtension) {
  TMainForm form({});
  const struct {
    const char* path;
    const char* extractor;  // nullptr: none
  } cases[] = {
      {"/a/b.zip", "UnZip"}, {"/a/B.ZIP", "UnZip"}, {"x.Jar", "UnJar"},     {"x.lha", "UnLha"},
      {"x.cab", "UnCab"},    {"x.rar", "UnRar"},    {"x.tar.gz", "UnGZip"}, {"x.tar", "UnTar"},
      {"x.lzh", nullptr},    {"x.tgz", nullptr},    {"noext", nullptr},     {"/d/dir.zip/readme", nullptr},
      {"x.zip.bak", nullptr}, {"/d/.zip", "UnZip"},
  };
  for (const auto& c : cases) {
    const tessavar::app::TExtractorSlot* slot = form.ExtractorForFile(c.path);
    EXPECT_EQ(slot, form.CurrentExtractor()) << c.path;
    if (c.extractor) {
      ASSERT_NE(slot, nullptr) << c.path;
      EXPECT_STREQ(slot->name, c.extractor) << c.path;
    } else {
      EXPECT_EQ(slot, nullptr) << c.path;
    }
  }
  // The ZIP family has its components in this build.
  EXPECT_EQ(form.ExtractorForFile("a.zip")->component, static_cast<TCustomDClass*>(form.UnZip.get()));
  EXPECT_EQ(form.ExtractorForFile("a.jar")->component, static_cast<TCustomDClass*>(form.UnJar.get()));
}

TEST(MainForm, WindowGeometryTakesATenthOfTheWorkAreaWidthFromBothSides) {
  const struct {
    QRect work, expected;
  } cases[] = {
      {{0, 0, 1024, 768}, {51, 51, 922, 666}},
      {{0, 0, 1920, 1040}, {96, 96, 1728, 848}},
      {{0, 30, 1280, 994}, {64, 30 + 64, 1152, 866}},
      {{1024, 0, 800, 600}, {1024 + 40, 40, 720, 520}},
  };
  for (const auto& c : cases) EXPECT_EQ(tessavar::app::FormShowGeometry(c.work), c.expected) << c.work.width();
}

TEST(MainForm, StartsWithTheCaptionsColumnsAndComponentsSetUp) {
  TMainForm form({});
  EXPECT_EQ(form.windowTitle(), "Tessavar");
  EXPECT_EQ(form.ArchivePanel->Caption(), "Archive Content View");
  EXPECT_EQ(form.FolderPanel->Caption(), "Folder Navigation View");
  EXPECT_EQ(form.SelectionPanel->Caption(), "Folder(s) and File(s) Selection View");
  const char* captions[] = {"Name", "Size", "Packed", "Type", "Modified", "CRC", "Path"};
  const int widths[] = {200, 100, 100, 130, 130, 70};
  const int tags[] = {0, 2, 2, 0, 1, 3, 0};
  ASSERT_EQ(form.ArchiveListView->columnCount(), 7);
  for (int c = 0; c < 7; ++c) {
    EXPECT_EQ(form.ArchiveListView->ColumnCaption(c), captions[c]);
    EXPECT_EQ(form.ArchiveListView->ColumnTag(c), tags[c]);
    if (c < 6) {
      EXPECT_EQ(form.ArchiveListView->columnWidth(c), widths[c]);
    }
  }
  EXPECT_EQ(form.ArchiveListView->ColumnAlignment(1), Qt::AlignRight);
  EXPECT_EQ(form.ArchiveListView->ColumnAlignment(5), Qt::AlignRight);
  EXPECT_EQ(form.SortColumn(), -1);
  EXPECT_FALSE(form.OperationFinished());
  EXPECT_TRUE(form.ProgramDir().endsWith('/'));
  EXPECT_TRUE(form.ZipTV->RecurseDirs());
  EXPECT_TRUE(form.ZipTV->ShowEmptyDirs());
  EXPECT_TRUE(form.UnZip->CreateStoredDirs());
  EXPECT_TRUE(static_cast<bool>(form.UnZip->OnGetPassword));
  EXPECT_FALSE(static_cast<bool>(form.UnJar->OnGetPassword));
  EXPECT_EQ(form.FileMenu->title(), "&File");
  EXPECT_EQ(form.HelpMenu->title(), "&Help");
  QStringList items;
  for (QAction* a : form.FileMenu->actions()) items << a->text();
  EXPECT_EQ(items, (QStringList{"&Compress", "&Extract", "&Delete", "&Test", "", "E&xit"}));
  EXPECT_EQ(form.TessavarHelpMenu->text(), "&Tessavar Help");
  EXPECT_EQ(form.AboutMenu->text(), "&About...");
  EXPECT_EQ(form.CompressButton->text(), "Compress");
  EXPECT_EQ(form.TestButton->text(), "Test");
  EXPECT_EQ(form.TrayIcon->toolTip(), "Tessavar");
  EXPECT_FALSE(form.TrayIcon->isVisible());
  EXPECT_EQ(form.FolderSplitter->handleWidth(), 10);
  EXPECT_EQ(form.SelectionSplitter->handleWidth(), 10);
  // Shown, the window takes its place in the work area.
  form.show();
  // The content panel rolls up to its title bar and down again.
  ASSERT_NE(form.ArchivePanel->RollUpButton(), nullptr);
  form.ArchivePanel->RollUpButton()->click();
  EXPECT_TRUE(form.ArchivePanel->RolledUp());
  EXPECT_FALSE(form.ArchiveListView->isVisible());
  form.ArchivePanel->RollUpButton()->click();
  EXPECT_FALSE(form.ArchivePanel->RolledUp());
  EXPECT_TRUE(form.ArchiveListView->isVisible());
  const QRect expected = tessavar::app::FormShowGeometry(form.screen()->availableGeometry());
  EXPECT_EQ(form.size(), expected.size());
}

TEST(MainForm, OpensTheArchiveOfExactlyOneArgumentAfterShowing) {
  TempFolder tmp;
  const QString upper = QString::fromStdString((tmp / "B.ZIP").string());
  ASSERT_TRUE(QFile::copy(Demo(), upper));
  DialogScript script;
  {
    TMainForm form({upper});
    EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);  // not before the window is shown
    ShowAndSettle(form);
    EXPECT_TRUE(form.OpenedFromCommandLine());
    EXPECT_EQ(form.ArchivePanel->Caption(), upper);
    EXPECT_EQ(form.CurrentArchive(), upper);
    EXPECT_EQ(form.ArchiveListView->ItemCount(), 7);
  }
  for (const QStringList& args : {QStringList{}, QStringList{upper, upper}}) {
    TMainForm form(args);
    ShowAndSettle(form);
    EXPECT_FALSE(form.OpenedFromCommandLine());
    EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);
    EXPECT_EQ(form.ArchivePanel->Caption(), "Archive Content View");
  }
  EXPECT_TRUE(script.messages.empty());
}

TEST(MainForm, AMissingArchiveOfAKnownTypeShowsTheReadersError) {
  DialogScript script;
  TMainForm form({"/nonexistent/x.zip"});
  ShowAndSettle(form);
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_TRUE(script.messages[0].text.startsWith("Error: 25192 File: ")) << script.messages[0].text.toStdString();
  EXPECT_EQ(script.messages[0].detail, "File not found");
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);
}

TEST(MainForm, RowsOfFolderAndFileEntries) {
  DialogScript script;
  TMainForm form({Demo()});
  ShowAndSettle(form);
  ASSERT_EQ(form.ArchiveListView->ItemCount(), 7);
  // Find the rows by caption.
  auto row = [&](const QString& caption) -> QTreeWidgetItem* {
    for (int i = 0; i < form.ArchiveListView->ItemCount(); ++i)
      if (form.ArchiveListView->Item(i)->text(0) == caption) return form.ArchiveListView->Item(i);
    return nullptr;
  };
  QTreeWidgetItem* folder = row("docs/");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->text(1), "0");
  EXPECT_EQ(folder->text(6), "");
  EXPECT_FALSE(folder->text(3).isEmpty());
  EXPECT_EQ(folder->text(5), "00000000");
  QTreeWidgetItem* notes = row("notes.txt");
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(notes->text(1), "3031");
  EXPECT_EQ(notes->text(6), "docs/");
  EXPECT_FALSE(notes->icon(0).isNull());
  EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}$").match(notes->text(5)).hasMatch()) << notes->text(5).toStdString();
  // The Modified cell reads back as the entry's time.
  const double when = tessavar::app::ParseEntryDateTime(notes->text(4));
  ASSERT_FALSE(std::isnan(when));
  const QDateTime dt = QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addMSecs(static_cast<qint64>(std::llround(when * 86400000.0)));
  EXPECT_EQ(dt, QDateTime(QDate(2024, 5, 1), QTime(12, 30))) << notes->text(4).toStdString();
  // Path and caption give back the stored name.
  EXPECT_EQ(notes->text(6) + notes->text(0), "docs/notes.txt");
  QTreeWidgetItem* readme = row("README.txt");
  ASSERT_NE(readme, nullptr);
  EXPECT_EQ(readme->text(6), "");
  EXPECT_TRUE(script.messages.empty());
}

TEST(MainForm, TypeNamesFallBackToTheExtension) {
  TempFolder tmp;
  const auto zip = zip::BuildZip({{"data.xyzq", "abc"}, {"noext", "x"}, {"dir/a.tvbin", ""}}, {});
  WriteAll(tmp / "t.zip", zip);
  TMainForm form({QString::fromStdString((tmp / "t.zip").string())});
  ShowAndSettle(form);
  ASSERT_EQ(form.ArchiveListView->ItemCount(), 3);
  EXPECT_EQ(Column(form, 3), (QStringList{"XYZQ File", "File", "TVBIN File"}));
  EXPECT_EQ(Column(form, 0), (QStringList{"data.xyzq", "noext", "a.tvbin"}));
  EXPECT_EQ(Column(form, 6), (QStringList{"", "", "dir/"}));
}

TEST(MainForm, HeaderClicksSortNumericallyAndAlternate) {
  TempFolder tmp;
  const std::string ten(10, 'x'), nine(9, 'y');
  WriteAll(tmp / "s.zip", zip::BuildZip({{"b", ""}, {"a", ten}, {"C", nine}}, {}));
  TMainForm form({QString::fromStdString((tmp / "s.zip").string())});
  ShowAndSettle(form);
  ASSERT_EQ(form.ArchiveListView->ItemCount(), 3);
  form.ArchiveListViewColumnClick(1);
  EXPECT_EQ(Column(form, 1), (QStringList{"0", "9", "10"}));
  form.ArchiveListViewColumnClick(1);
  EXPECT_EQ(Column(form, 1), (QStringList{"10", "9", "0"}));
  form.ArchiveListViewColumnClick(1);
  EXPECT_EQ(Column(form, 1), (QStringList{"0", "9", "10"}));
  // A new column always starts ascending.
  form.ArchiveListViewColumnClick(1);
  form.ArchiveListViewColumnClick(2);
  EXPECT_EQ(Column(form, 2), (QStringList{"0", "9", "10"}));
  EXPECT_EQ(form.SortColumn(), 2);
  EXPECT_TRUE(form.SortDescendingNext());
  // Names compare by character codes: capitals first.
  form.ArchiveListViewColumnClick(0);
  EXPECT_EQ(Column(form, 0), (QStringList{"C", "a", "b"}));
  form.ArchiveListViewColumnClick(0);
  EXPECT_EQ(Column(form, 0), (QStringList{"b", "a", "C"}));
  // CRC text: the eight digits order as text.
  form.ArchiveListViewColumnClick(5);
  QStringList crcs = Column(form, 5);
  QStringList sorted = crcs;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(crcs, sorted);
}

TEST(MainForm, ColumnTextComparesByKind) {
  const double base = 45000.5;  // a day in 2023, noon
  const QString t0 = tessavar::app::FormatEntryDateTime(base);
  const QString t0b = tessavar::app::FormatEntryDateTime(base + 0.4 / 86400000.0);
  const QString t1 = tessavar::app::FormatEntryDateTime(base + 1.0 / 86400.0);
  const QString midnight = tessavar::app::FormatEntryDateTime(45000.0);
  const QString y1999 = tessavar::app::FormatEntryDateTime(36500.5);
  const struct {
    QString x, y;
    int kind, expected;
  } cases[] = {
      {"9", "10", 2, -1},  {"10", "9", 2, 1},          {"0", "0", 2, 0},
      {"4294967296", "4294967295", 2, 1},  // beyond 32 bits
      {"9", "10", 0, 1},   {"B", "a", 0, -1},          {"a", "a", 0, 0},
      {"0000000A", "00000009", 3, 1},      {"FFFFFFFF", "0000000A", 3, 1},
      {t0, t0b, 1, 0},     {t0, t1, 1, -1},            {t1, t0, 1, 1},
      {midnight, t0, 1, -1},  {y1999, midnight, 1, -1},  // the century survives the text
      {"x", "y", 7, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(tessavar::app::CompareColumnText(c.x, c.y, c.kind), c.expected)
        << c.x.toStdString() << " vs " << c.y.toStdString() << " kind " << c.kind;
  EXPECT_FALSE(midnight.contains(':')) << midnight.toStdString();  // no time at midnight
}

TEST(MainForm, RowsWithoutACellSortAfterThoseWithIt) {
  tessavar::ui::TReportListView view;
  QTreeWidgetItem full, shortRow;
  full.setText(0, "a");
  full.setText(1, "5");
  shortRow.setText(0, "b");
  EXPECT_EQ(tessavar::app::CompareAscending(&full, &shortRow, 1, 2), 1);
  EXPECT_EQ(tessavar::app::CompareAscending(&shortRow, &full, 1, 2), -1);
  EXPECT_EQ(tessavar::app::CompareDescending(&full, &shortRow, 1, 2), -1);
  EXPECT_EQ(tessavar::app::CompareDescending(&shortRow, &full, 1, 2), 1);
}

TEST(MainForm, SelectionChangesDecideWhatTheViewShows) {
  TempFolder tmp;
  const QString dir = QString::fromStdString(tmp.path().string());
  ASSERT_TRUE(QFile::copy(Demo(), dir + "/a.zip"));
  ASSERT_TRUE(QFile::copy(Demo(), dir + "/b.zip"));
  WriteAll(tmp / "c.txt", "text");
  QDir(dir).mkdir("sub");
  DialogScript script;
  TMainForm form({});
  ShowAndSettle(form);
  ASSERT_TRUE(ShowFolder(form, dir, 4));
  form.FileListView->SelectPaths({dir + "/a.zip"});
  EXPECT_EQ(form.ArchivePanel->Caption(), dir + "/a.zip");
  ASSERT_EQ(form.ArchiveListView->ItemCount(), 7);
  // Re-selecting the same file keeps the rows and their order.
  form.ArchiveListViewColumnClick(1);
  const QStringList order = Column(form, 0);
  form.FileListView->SelectPaths({dir + "/a.zip"});
  form.FileListViewChange();
  EXPECT_EQ(Column(form, 0), order);
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 7);
  // Extending the selection keeps the view while a.zip is still first.
  form.FileListView->SelectPaths({dir + "/a.zip", dir + "/c.txt"});
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 7);
  EXPECT_EQ(form.ArchivePanel->Caption(), dir + "/a.zip");
  // Another archive first among several files: caption, but no rows.
  form.FileListView->SelectPaths({dir + "/b.zip", dir + "/c.txt"});
  EXPECT_EQ(form.ArchivePanel->Caption(), dir + "/b.zip");
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);
  // It stays so when b.zip alone remains: the selected path did not change.
  form.FileListView->SelectPaths({dir + "/b.zip"});
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);
  // A newly listed archive: the Size column goes on alternating.
  form.FileListView->SelectPaths({dir + "/a.zip"});
  ASSERT_EQ(form.ArchiveListView->ItemCount(), 7);
  form.ArchiveListViewColumnClick(1);
  EXPECT_EQ(Column(form, 1).front(), "3031");
  // A folder clears the view.
  form.FileListView->SelectPaths({dir + "/sub"});
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);
  EXPECT_EQ(form.ArchivePanel->Caption(), "Archive Content View");
  // A file of another type is not read at all.
  form.FileListView->SelectPaths({dir + "/c.txt"});
  EXPECT_EQ(form.ArchiveListView->ItemCount(), 0);
  EXPECT_EQ(form.ArchivePanel->Caption(), "Archive Content View");
  form.ArchiveListViewColumnClick(1);  // ignored: no archive
  EXPECT_TRUE(script.messages.empty());
}

TEST(MainForm, GrabOfTheDesignSizeIsNotBlank) {
  TempFolder tmp;
  TMainForm form({Demo()});
  ShowAndSettle(form);
  form.resize(853, 465);
  QApplication::processEvents();
  const QPixmap shot = form.grab();
  const QString png = QString::fromStdString((tmp / "main.png").string());
  ASSERT_TRUE(shot.save(png, "PNG"));
  QImage image(png);
  ASSERT_EQ(image.size(), QSize(853, 465));
  QSet<QRgb> colors;
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) colors.insert(image.pixel(x, y));
  EXPECT_GT(colors.size(), 8) << "the window grabbed as a flat picture";
  // The panels follow the window: a quarter for the folders, half the height for the content.
  EXPECT_NEAR(form.FolderPanel->width(), form.StatusBar->width() / 4, 2);
  EXPECT_NEAR(form.ArchivePanel->height(), form.SelectionPanel->height() / 2, 12);
}

}  // namespace
}  // namespace tessavar::test::app
