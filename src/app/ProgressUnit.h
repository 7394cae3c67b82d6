#pragma once
// TProgressForm: the window the archive commands show while a component
// works. It stays on top and refuses to close while a command runs.
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;

namespace tessavar::ui {
class TTitledPanel;
}

namespace tessavar::app {

class TProgressForm : public QWidget {
 public:
  // `operationFinished` answers whether the running command has ended.
  explicit TProgressForm(QWidget* mainWindow, std::function<bool()> operationFinished);

  ui::TTitledPanel* LogoPanel;
  QLabel* TessavarImage;
  QLabel* LinkLabel;
  ui::TTitledPanel* ProgressPanel;
  QProgressBar* FileGauge;
  QProgressBar* ArchiveGauge;

  void SetFileGaugeText(const QString& text);
  QString FileGaugeText() const { return fileText_; }
  // Shows the window centred on the main window, without making it modal.
  void ShowProgress();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose

 private:
  QWidget* mainWindow_;
  std::function<bool()> operationFinished_;
  QString fileText_;
};

}  // namespace tessavar::app
