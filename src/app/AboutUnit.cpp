#include "app/AboutUnit.h"

#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QUrl>
#include <QLabel>

#include "app/ExeInfo.h"

namespace tessavar::app {

QPixmap TessavarPicture(const QSize& size) {
  QPixmap pixmap(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, size.height());
  sky.setColorAt(0, QColor(34, 74, 120));
  sky.setColorAt(1, QColor(12, 28, 52));
  p.fillRect(pixmap.rect(), sky);
  // A stack of three boxes: archives packed into one another.
  const int w = size.width(), h = size.height();
  const QColor colors[] = {QColor(233, 176, 64), QColor(206, 120, 52), QColor(164, 72, 48)};
  for (int i = 0; i < 3; ++i) {
    QRectF box(w * (0.22 + 0.06 * i), h * (0.16 + 0.14 * i), w * (0.56 - 0.12 * i), h * 0.22);
    p.setBrush(colors[i]);
    p.setPen(QPen(QColor(40, 24, 16), 2));
    p.drawRoundedRect(box, 6, 6);
    p.drawLine(QPointF(box.center().x(), box.top()), QPointF(box.center().x(), box.bottom()));
  }
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(std::max(10, h / 9));
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(0, static_cast<int>(h * 0.72), w, h / 6), Qt::AlignCenter, "Tessavar");
  f.setBold(false);
  f.setPixelSize(std::max(8, h / 22));
  p.setFont(f);
  p.setPen(QColor(200, 214, 232));
  p.drawText(QRect(0, static_cast<int>(h * 0.86), w, h / 10), Qt::AlignCenter, "archive manager");
  return pixmap;
}

QString AboutText(const std::string& productVersion, const std::string& fileVersion) {
  const std::vector<std::string> pieces = Split(fileVersion, '.');
  const std::string build = pieces.size() >= 4 ? pieces[3] : std::string();
  return QString::fromStdString("Version " + productVersion + " (Build " + build + ")");
}

QString GuideLink(const QString& programDir) {
  const QUrl url = QUrl::fromLocalFile(programDir + "Documentation/Tessavar.html");
  return QString("<a href=\"%1\">Tessavar user guide</a>").arg(url.toString(QUrl::FullyEncoded));
}

TAboutForm::TAboutForm(QWidget* mainWindow, const TExeInfo& exeInfo, const QString& programDir)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainWindow_(mainWindow),
      exeInfo_(exeInfo) {
  setWindowTitle("About...");
  setFixedSize(295, 330);
  setModal(true);
  TessavarImage = new QLabel(this);
  TessavarImage->setGeometry(7, 7, 281, 275);
  TessavarImage->setPixmap(TessavarPicture(QSize(281, 275)));
  ProductLabel = new QLabel(this);
  ProductLabel->move(0, 288);
  LinkLabel = new QLabel(this);
  LinkLabel->setOpenExternalLinks(true);
  LinkLabel->setCursor(Qt::PointingHandCursor);
  LinkLabel->setText(GuideLink(programDir));
  LinkLabel->move(0, 308);
}

void TAboutForm::FormActivate() {
  ProductLabel->setText(AboutText(exeInfo_.ProductVersion(), exeInfo_.FileVersion()));
  ProductLabel->adjustSize();
  LinkLabel->adjustSize();
  ProductLabel->move((width() - ProductLabel->width()) / 2, ProductLabel->y());
  LinkLabel->move((width() - LinkLabel->width()) / 2, LinkLabel->y());
}

void TAboutForm::showEvent(QShowEvent* event) {
  if (mainWindow_) move(mainWindow_->geometry().center() - QPoint(width() / 2, height() / 2));
  FormActivate();
  QDialog::showEvent(event);
}

void TAboutForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  QDialog::changeEvent(event);
}

}  // namespace tessavar::app
