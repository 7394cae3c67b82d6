#include "ui/Controls.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace tessavar::ui {

TTitledPanel::TTitledPanel(const QString& caption, bool rollUpButton, QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(1, 1, 1, 1);
  outer->setSpacing(0);
  auto* bar = new QFrame(this);
  bar->setAutoFillBackground(true);
  bar->setBackgroundRole(QPalette::Mid);
  auto* barLayout = new QHBoxLayout(bar);
  barLayout->setContentsMargins(6, 2, 2, 2);
  title_ = new QLabel(caption, bar);
  title_->setForegroundRole(QPalette::BrightText);
  QFont f = title_->font();
  f.setBold(true);
  title_->setFont(f);
  // A long path must not widen the panel.
  title_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  barLayout->addWidget(title_, 1);
  if (rollUpButton) {
    rollButton_ = new QToolButton(bar);
    rollButton_->setAutoRaise(true);
    rollButton_->setArrowType(Qt::UpArrow);
    rollButton_->setToolTip("Roll up");
    connect(rollButton_, &QToolButton::clicked, this, [this] { SetRolledUp(!rolledUp_); });
    barLayout->addWidget(rollButton_);
  }
  outer->addWidget(bar);
  body_ = new QWidget(this);
  bodyLayout_ = new QVBoxLayout(body_);
  bodyLayout_->setContentsMargins(0, 0, 0, 0);
  bodyLayout_->setSpacing(0);
  outer->addWidget(body_, 1);
}

QString TTitledPanel::Caption() const { return title_->text(); }
void TTitledPanel::SetCaption(const QString& caption) {
  title_->setText(caption);
  title_->setToolTip(caption);
}
void TTitledPanel::AddWidget(QWidget* w, int stretch) { bodyLayout_->addWidget(w, stretch); }

void TTitledPanel::SetRolledUp(bool up) {
  if (up == rolledUp_) return;
  rolledUp_ = up;
  if (up) heightBeforeRollUp_ = height();
  body_->setVisible(!up);
  if (rollButton_) {
    rollButton_->setArrowType(up ? Qt::DownArrow : Qt::UpArrow);
    rollButton_->setToolTip(up ? "Roll down" : "Roll up");
  }
  // Rolled up, the panel keeps only its title bar.
  setMaximumHeight(up ? sizeHint().height() : QWIDGETSIZE_MAX);
  if (!up && heightBeforeRollUp_ > 0) resize(width(), heightBeforeRollUp_);
}

namespace {
// Aligns every cell after its column, so rows need no per-cell alignment.
class TColumnAlignDelegate : public QStyledItemDelegate {
 public:
  TColumnAlignDelegate(TReportListView* view) : QStyledItemDelegate(view), view_(view) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->displayAlignment = view_->ColumnAlignment(index.column()) | Qt::AlignVCenter;
  }

 private:
  TReportListView* view_;
};
}  // namespace

TReportListView::TReportListView(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setSortingEnabled(false);
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(false);
  header()->setStretchLastSection(false);
  setItemDelegate(new TColumnAlignDelegate(this));
  setColumnCount(0);
}

void TReportListView::ClearColumns() {
  columns_.clear();
  setColumnCount(0);
}

void TReportListView::AddColumn(const QString& caption, int width, Qt::Alignment alignment, int tag, bool autoSize) {
  columns_.push_back({tag, alignment});
  const int n = static_cast<int>(columns_.size());
  setColumnCount(n);
  QTreeWidgetItem* h = headerItem();
  h->setText(n - 1, caption);
  h->setTextAlignment(n - 1, alignment | Qt::AlignVCenter);
  setColumnWidth(n - 1, width);
  if (autoSize) header()->setStretchLastSection(true);
}

int TReportListView::ColumnTag(int column) const {
  return column >= 0 && column < static_cast<int>(columns_.size()) ? columns_[column].tag : 0;
}
Qt::Alignment TReportListView::ColumnAlignment(int column) const {
  return column >= 0 && column < static_cast<int>(columns_.size()) ? columns_[column].alignment : Qt::AlignLeft;
}
QString TReportListView::ColumnCaption(int column) const { return headerItem()->text(column); }

void TReportListView::ClearColumnImages() {
  for (int c = 0; c < columnCount(); ++c) headerItem()->setIcon(c, QIcon());
}

void TReportListView::BeginUpdate() {
  if (updateDepth_++ == 0) setUpdatesEnabled(false);
}

void TReportListView::EndUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  if (!pending_.empty()) {
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(pending_.size()));
    for (auto& p : pending_) items.push_back(p.release());  // the view owns them now
    pending_.clear();
    addTopLevelItems(items);
  }
  setUpdatesEnabled(true);
}

QTreeWidgetItem* TReportListView::AddItem() {
  auto item = std::make_unique<QTreeWidgetItem>();
  QTreeWidgetItem* raw = item.get();
  if (updateDepth_ > 0) {
    pending_.push_back(std::move(item));
  } else {
    addTopLevelItem(raw);
    item.release();  // the view owns it now
  }
  return raw;
}

int TReportListView::ItemCount() const { return topLevelItemCount() + static_cast<int>(pending_.size()); }

QTreeWidgetItem* TReportListView::Item(int row) const {
  const int inserted = topLevelItemCount();
  if (row < inserted) return topLevelItem(row);
  row -= inserted;
  return row < static_cast<int>(pending_.size()) ? pending_[row].get() : nullptr;
}

void TReportListView::ClearItems() {
  pending_.clear();
  clear();
}

std::vector<QTreeWidgetItem*> TReportListView::SelectedItems() const {
  std::vector<std::pair<int, QTreeWidgetItem*>> rows;
  for (QTreeWidgetItem* item : selectedItems()) rows.emplace_back(indexOfTopLevelItem(item), item);
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<QTreeWidgetItem*> out;
  out.reserve(rows.size());
  for (auto& r : rows) out.push_back(r.second);
  return out;
}

void TReportListView::CustomSort(const TCompare& compare, int param) {
  const int n = topLevelItemCount();
  if (n < 2) return;
  QTreeWidgetItem* current = currentItem();
  std::vector<QTreeWidgetItem*> selected;
  for (QTreeWidgetItem* item : selectedItems()) selected.push_back(item);
  setUpdatesEnabled(false);
  std::vector<QTreeWidgetItem*> rows;
  rows.reserve(n);
  // Taken out from the end, so every take is cheap.
  for (int i = n - 1; i >= 0; --i) rows.push_back(takeTopLevelItem(i));
  std::reverse(rows.begin(), rows.end());
  std::stable_sort(rows.begin(), rows.end(),
                   [&](QTreeWidgetItem* a, QTreeWidgetItem* b) { return compare(a, b, param) < 0; });
  addTopLevelItems(QList<QTreeWidgetItem*>(rows.begin(), rows.end()));
  for (QTreeWidgetItem* item : selected) item->setSelected(true);
  if (current) setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
  setUpdatesEnabled(true);
}

}  // namespace tessavar::ui
