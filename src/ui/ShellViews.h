#pragma once
// The shell views: a folder combo box, a folder tree and a file list over
// the file system model. A TShellLink keeps the three in step: choosing a
// folder in one shows it in the others.
#include <QComboBox>
#include <QFileSystemModel>
#include <QStringList>
#include <QTreeView>
#include <functional>

namespace tessavar::ui {

// The file system model with the column captions the windows use.
class TFileSystemModel : public QFileSystemModel {
 public:
  explicit TFileSystemModel(QObject* parent = nullptr) : QFileSystemModel(parent) {}
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
};

// Paths without a trailing "/" (except the root itself).
QString CleanFolder(const QString& path);

class TShellComboBox : public QComboBox {
 public:
  explicit TShellComboBox(QWidget* parent = nullptr);
  QString Folder() const { return folder_; }
  // Shows the folder with the folders above it, and the home folder.
  void SetFolder(const QString& folder);
  std::function<void(const QString&)> OnFolderChange;

 private:
  void Chosen(const QString& path);
  QString folder_;
  bool filling_ = false;
};

class TShellTreeView : public QTreeView {
 public:
  explicit TShellTreeView(QWidget* parent = nullptr);
  QString Folder() const;
  void SetFolder(const QString& folder);
  std::function<void(const QString&)> OnFolderChange;

 private:
  TFileSystemModel* model_;
  bool setting_ = false;
};

class TShellListView : public QTreeView {
 public:
  enum class Style { Report, List };
  explicit TShellListView(Style style = Style::Report, QWidget* parent = nullptr);
  QString Folder() const { return folder_; }
  void SetFolder(const QString& folder);
  // Name filters of a "*.*|*.*" style mask; "*.*" shows every file.
  void SetMask(const QString& mask);
  TFileSystemModel* Model() const { return model_; }

  // Selected entries in list order, as full paths.
  QStringList SelectedFolders() const;
  QStringList SelectedFiles() const;
  // The first selected entry when it is a file, else "".
  QString SelectedPath() const;
  // Selects these entries of the shown folder (others are deselected).
  void SelectPaths(const QStringList& paths);
  void ClearSelection();
  // Rereads the folder; the selection is kept where it still exists.
  void Refresh();
  // True once the shown folder's entries have been read.
  bool Loaded() const { return loaded_; }
  // Rows shown in list order.
  QStringList Paths() const;

  // Raised for every change of the selection.
  std::function<void()> OnChange;
  // A folder was opened in the list (double click or Enter).
  std::function<void(const QString&)> OnFolderChange;

 private:
  std::vector<QModelIndex> SelectedRows() const;
  TFileSystemModel* model_;
  QString folder_;
  bool loaded_ = false;
};

// Keeps a combo, a tree and a list on the same folder. Any of them may be
// missing; Unlink detaches them again.
class TShellLink {
 public:
  void Link(TShellComboBox* combo, TShellTreeView* tree, TShellListView* list);
  void Unlink();
  void SetFolder(const QString& folder);
  QString Folder() const { return folder_; }

 private:
  TShellComboBox* combo_ = nullptr;
  TShellTreeView* tree_ = nullptr;
  TShellListView* list_ = nullptr;
  QString folder_;
  bool busy_ = false;
};

}  // namespace tessavar::ui
