#pragma once
// TAboutForm: the program's picture, version and link.
#include <QDialog>
#include <QPixmap>

class QLabel;

namespace tessavar::app {

class TExeInfo;

// The program's picture, drawn rather than shipped as a file.
QPixmap TessavarPicture(const QSize& size);
// "Version " ProductVersion " (Build " fourth piece of FileVersion ")".
QString AboutText(const std::string& productVersion, const std::string& fileVersion);
// The link labels' text: the user guide beside the program (ProgramDir).
QString GuideLink(const QString& programDir);

class TAboutForm : public QDialog {
 public:
  TAboutForm(QWidget* mainWindow, const TExeInfo& exeInfo, const QString& programDir);

  QLabel* TessavarImage;
  QLabel* ProductLabel;
  QLabel* LinkLabel;

  // Runs on every activation: the version text and the centring.
  void FormActivate();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QWidget* mainWindow_;
  const TExeInfo& exeInfo_;
};

}  // namespace tessavar::app
