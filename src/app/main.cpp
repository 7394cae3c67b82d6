// The desktop program. Until the main window lands this shows a plain window
// naming the archive it was started with.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(argc > 1 ? QString("Tessavar\n%1").arg(QString::fromLocal8Bit(argv[1])) : QString("Tessavar"));
  label.setAlignment(Qt::AlignCenter);
  label.resize(480, 240);
  label.setWindowTitle("Tessavar");
  label.show();
  return app.exec();
}
