#pragma once
// Panels with a title bar (the archive panel can roll up) and the report
// list view of the archive content: columns with tags, per-row icons,
// multi-selection, a sort through a compare callback, and a begin/end update
// pair so that a long listing lays out and repaints once.
#include <QFrame>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace tessavar::ui {

class TTitledPanel : public QFrame {
 public:
  explicit TTitledPanel(const QString& caption, bool rollUpButton = false, QWidget* parent = nullptr);
  QString Caption() const;
  void SetCaption(const QString& caption);
  // The panel's content goes below the title bar.
  void AddWidget(QWidget* w, int stretch = 0);
  bool RolledUp() const { return rolledUp_; }
  void SetRolledUp(bool up);
  QToolButton* RollUpButton() const { return rollButton_; }

 private:
  QLabel* title_;
  QToolButton* rollButton_ = nullptr;
  QWidget* body_;
  QVBoxLayout* bodyLayout_;
  bool rolledUp_ = false;
  int heightBeforeRollUp_ = 0;
};

class TReportListView : public QTreeWidget {
 public:
  explicit TReportListView(QWidget* parent = nullptr);

  // Columns: caption, width, alignment and a tag the owner reads back.
  void ClearColumns();
  void AddColumn(const QString& caption, int width, Qt::Alignment alignment, int tag, bool autoSize = false);
  int ColumnTag(int column) const;
  Qt::Alignment ColumnAlignment(int column) const;
  QString ColumnCaption(int column) const;
  void ClearColumnImages();

  // Between BeginUpdate and EndUpdate new rows are collected and inserted
  // in one step.
  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return updateDepth_ > 0; }
  // A new row at the end of the list (pending while updating).
  QTreeWidgetItem* AddItem();
  int ItemCount() const;
  QTreeWidgetItem* Item(int row) const;
  void ClearItems();
  // Selected rows in list order.
  std::vector<QTreeWidgetItem*> SelectedItems() const;

  // Sorts the rows in place; Compare(a, b, param) < 0 puts a first. Stable.
  using TCompare = std::function<int(QTreeWidgetItem* a, QTreeWidgetItem* b, int param)>;
  void CustomSort(const TCompare& compare, int param);

 private:
  struct Column {
    int tag;
    Qt::Alignment alignment;
  };
  std::vector<Column> columns_;
  std::vector<std::unique_ptr<QTreeWidgetItem>> pending_;
  int updateDepth_ = 0;
};

}  // namespace tessavar::ui
