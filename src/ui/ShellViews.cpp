#include "ui/ShellViews.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <algorithm>

namespace tessavar::ui {

QVariant TFileSystemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
    switch (section) {
      case 0: return QString("Name");
      case 1: return QString("Size");
      case 2: return QString("Type");
      case 3: return QString("Modified");
      default: break;
    }
  }
  return QFileSystemModel::headerData(section, orientation, role);
}

QString CleanFolder(const QString& path) {
  if (path.isEmpty()) return path;
  QString p = QDir::cleanPath(QDir::fromNativeSeparators(path));
  return p.isEmpty() ? QString("/") : p;
}

// ---- Folder combo ----

TShellComboBox::TShellComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMinimumContentsLength(20);
  connect(this, &QComboBox::activated, this, [this](int index) { Chosen(itemData(index).toString()); });
  connect(lineEdit(), &QLineEdit::returnPressed, this, [this] { Chosen(lineEdit()->text()); });
}

void TShellComboBox::SetFolder(const QString& folder) {
  folder_ = CleanFolder(folder);
  filling_ = true;
  clear();
  QStringList chain;
  for (QString p = folder_; !p.isEmpty();) {
    chain.prepend(p);
    if (p == "/") break;
    QString up = QFileInfo(p).path();
    if (up == p) break;
    p = up;
  }
  for (int i = 0; i < chain.size(); ++i) {
    QString name = chain[i] == "/" ? QString("/") : QFileInfo(chain[i]).fileName();
    addItem(QString(i * 2, ' ') + name, chain[i]);
  }
  const QString home = QDir::homePath();
  if (!chain.contains(home)) addItem("Home (" + home + ")", home);
  setCurrentIndex(static_cast<int>(chain.size()) - 1);
  setEditText(folder_);
  filling_ = false;
}

void TShellComboBox::Chosen(const QString& path) {
  if (filling_) return;
  const QString folder = CleanFolder(path);
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    setEditText(folder_);
    return;
  }
  SetFolder(folder);
  if (OnFolderChange) OnFolderChange(folder_);
}

// ---- Folder tree ----

TShellTreeView::TShellTreeView(QWidget* parent) : QTreeView(parent) {
  model_ = new TFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath("/");
  setModel(model_);
  setRootIndex(model_->index("/").parent());
  for (int c = 1; c < model_->columnCount(); ++c) hideColumn(c);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // The folders above the current one arrive later; keep it in sight.
  connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
    if (currentIndex().isValid()) scrollTo(currentIndex());
  });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (setting_ || !current.isValid()) return;
    if (OnFolderChange) OnFolderChange(model_->filePath(current));
  });
}

QString TShellTreeView::Folder() const { return model_->filePath(currentIndex()); }

void TShellTreeView::SetFolder(const QString& folder) {
  QModelIndex index = model_->index(CleanFolder(folder));
  if (!index.isValid()) return;
  setting_ = true;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) expand(p);
  setCurrentIndex(index);
  scrollTo(index);
  setting_ = false;
}

// ---- File list ----

TShellListView::TShellListView(Style style, QWidget* parent) : QTreeView(parent) {
  model_ = new TFileSystemModel(this);
  model_->setFilter(QDir::AllEntries | QDir::AllDirs | QDir::NoDotAndDotDot);
  model_->setNameFilterDisables(false);
  model_->setReadOnly(true);
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setSortingEnabled(true);
  sortByColumn(0, Qt::AscendingOrder);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setUniformRowHeights(true);
  if (style == Style::List) {
    setHeaderHidden(true);
    for (int c = 1; c < model_->columnCount(); ++c) hideColumn(c);
  } else {
    setColumnWidth(0, 220);
    setColumnWidth(1, 90);
    setColumnWidth(2, 120);
  }
  connect(model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& path) {
    if (CleanFolder(path) == folder_) loaded_ = true;
  });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (OnChange) OnChange();
  });
  connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
    if (!index.isValid() || !model_->isDir(index)) return;
    const QString path = model_->filePath(index);
    SetFolder(path);
    if (OnFolderChange) OnFolderChange(path);
  });
}

void TShellListView::SetFolder(const QString& folder) {
  const QString f = CleanFolder(folder);
  if (f == folder_) return;
  folder_ = f;
  loaded_ = false;
  clearSelection();
  setRootIndex(model_->setRootPath(folder_));
}

void TShellListView::SetMask(const QString& mask) {
  QStringList filters;
  for (const QString& part : mask.split('|', Qt::SkipEmptyParts))
    for (const QString& f : part.split(';', Qt::SkipEmptyParts))
      // "*.*" means every file, also those without a dot.
      filters << (f.trimmed() == "*.*" ? QString("*") : f.trimmed());
  filters.removeDuplicates();
  model_->setNameFilters(filters.contains("*") ? QStringList() : filters);
}

std::vector<QModelIndex> TShellListView::SelectedRows() const {
  std::vector<QModelIndex> rows;
  for (const QModelIndex& i : selectionModel()->selectedRows(0))
    if (i.parent() == rootIndex()) rows.push_back(i);
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  return rows;
}

QStringList TShellListView::SelectedFolders() const {
  QStringList out;
  for (const QModelIndex& i : SelectedRows())
    if (model_->isDir(i)) out << model_->filePath(i);
  return out;
}

QStringList TShellListView::SelectedFiles() const {
  QStringList out;
  for (const QModelIndex& i : SelectedRows())
    if (!model_->isDir(i)) out << model_->filePath(i);
  return out;
}

QString TShellListView::SelectedPath() const {
  auto rows = SelectedRows();
  if (rows.empty() || model_->isDir(rows.front())) return {};
  return model_->filePath(rows.front());
}

void TShellListView::SelectPaths(const QStringList& paths) {
  QItemSelection selection;
  for (const QString& p : paths) {
    QModelIndex i = model_->index(p);
    if (i.isValid()) selection.select(i, i);
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (!selection.isEmpty())
    selectionModel()->setCurrentIndex(selection.indexes().front(), QItemSelectionModel::NoUpdate);
}

void TShellListView::ClearSelection() { clearSelection(); }

void TShellListView::Refresh() {
  // The model watches the folder; a new root path makes it read the folder
  // again at once instead of waiting for the watcher.
  const QStringList keep = SelectedFolders() + SelectedFiles();
  const QString f = folder_;
  model_->setRootPath(QString());
  setRootIndex(model_->setRootPath(f));
  if (!keep.isEmpty()) SelectPaths(keep);
}

QStringList TShellListView::Paths() const {
  QStringList out;
  const int n = model_->rowCount(rootIndex());
  for (int r = 0; r < n; ++r) out << model_->filePath(model_->index(r, 0, rootIndex()));
  return out;
}

// ---- Link ----

void TShellLink::Link(TShellComboBox* combo, TShellTreeView* tree, TShellListView* list) {
  combo_ = combo;
  tree_ = tree;
  list_ = list;
  auto follow = [this](const QString& folder) { SetFolder(folder); };
  if (combo_) combo_->OnFolderChange = follow;
  if (tree_) tree_->OnFolderChange = follow;
  if (list_) list_->OnFolderChange = follow;
}

void TShellLink::Unlink() {
  if (combo_) combo_->OnFolderChange = nullptr;
  if (tree_) tree_->OnFolderChange = nullptr;
  if (list_) list_->OnFolderChange = nullptr;
  combo_ = nullptr;
  tree_ = nullptr;
  list_ = nullptr;
}

void TShellLink::SetFolder(const QString& folder) {
  if (busy_) return;
  busy_ = true;
  folder_ = CleanFolder(folder);
  if (combo_ && combo_->Folder() != folder_) combo_->SetFolder(folder_);
  if (tree_) tree_->SetFolder(folder_);
  if (list_) list_->SetFolder(folder_);
  busy_ = false;
}

}  // namespace tessavar::ui
