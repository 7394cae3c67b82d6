#include "app/ProgressUnit.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "app/AboutUnit.h"
#include "ui/Controls.h"

namespace tessavar::app {

TProgressForm::TProgressForm(QWidget* mainWindow, std::function<bool()> operationFinished)
    : QWidget(mainWindow, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainWindow_(mainWindow),
      operationFinished_(std::move(operationFinished)) {
  setFixedSize(381, 338);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);

  LogoPanel = new ui::TTitledPanel(QString(), false, this);
  TessavarImage = new QLabel(LogoPanel);
  TessavarImage->setAlignment(Qt::AlignCenter);
  TessavarImage->setPixmap(TessavarPicture(QSize(270, 260)));
  TessavarImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  LogoPanel->AddWidget(TessavarImage, 1);
  LinkLabel = new QLabel(LogoPanel);
  LinkLabel->setAlignment(Qt::AlignCenter);
  LinkLabel->setOpenExternalLinks(true);
  LinkLabel->setCursor(Qt::PointingHandCursor);
  LogoPanel->AddWidget(LinkLabel);
  layout->addWidget(LogoPanel, 1);

  ProgressPanel = new ui::TTitledPanel(" Progress", false, this);
  ProgressPanel->setFixedWidth(83);
  auto* gauges = new QWidget(ProgressPanel);
  auto* gaugeLayout = new QHBoxLayout(gauges);
  gaugeLayout->setContentsMargins(6, 6, 6, 6);
  FileGauge = new QProgressBar(gauges);
  FileGauge->setOrientation(Qt::Vertical);
  FileGauge->setRange(0, 100);
  FileGauge->setTextVisible(true);
  FileGauge->setFormat(QString());
  FileGauge->setToolTip("The current file");
  ArchiveGauge = new QProgressBar(gauges);
  ArchiveGauge->setOrientation(Qt::Vertical);
  ArchiveGauge->setRange(0, 100);
  ArchiveGauge->setTextVisible(true);
  ArchiveGauge->setFormat("%p%");
  ArchiveGauge->setToolTip("The whole operation");
  gaugeLayout->addWidget(FileGauge);
  gaugeLayout->addWidget(ArchiveGauge);
  ProgressPanel->AddWidget(gauges, 1);
  layout->addWidget(ProgressPanel);
}

void TProgressForm::SetFileGaugeText(const QString& text) {
  fileText_ = text;
  FileGauge->setFormat(text);
  // A long name does not fit the narrow gauge; the tooltip has it whole.
  FileGauge->setToolTip(text.isEmpty() ? QString("The current file") : text);
}

void TProgressForm::ShowProgress() {
  FileGauge->setValue(0);
  ArchiveGauge->setValue(0);
  if (mainWindow_) move(mainWindow_->geometry().center() - QPoint(width() / 2, height() / 2));
  show();
  raise();
}

void TProgressForm::closeEvent(QCloseEvent* event) {
  if (operationFinished_ && !operationFinished_())
    event->ignore();
  else
    event->accept();
}

}  // namespace tessavar::app
