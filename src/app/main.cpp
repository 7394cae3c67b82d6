// The desktop program: the main window over the archive components.
#include <QApplication>

#include "app/MainUnit.h"
#include "platform/Time.h"
#include "ui/Dialogs.h"

// The version information the about window and TExeInfo read back from this
// file. Blocks and keys follow a version resource.
[[gnu::used, gnu::section(".tessavar_version")]] static const char kVersionInfo[] =
    "[\\]\n"
    "FileVersion=1.0.0.2472\n"
    "ProductVersion=1.0.0.2472\n"
    "FileFlagsMask=0x3F\n"
    "FileFlags=0\n"
    "FileOS=4\n"
    "FileType=1\n"
    "FileDateMS=0\n"
    "FileDateLS=0\n"
    "[\\VarFileInfo\\Translation]\n"
    "040904E4\n"
    "[StringFileInfo\\040904E4]\n"
    "CompanyName=The Tessavar developers\n"
    "FileDescription=Tessavar archive manager\n"
    "FileVersion=1.0.0.2472\n"
    "InternalName=tessavar\n"
    "LegalCopyright=Copyright the Tessavar developers\n"
    "LegalTradeMarks=\n"
    "OriginalFileName=tessavar\n"
    "ProductName=Tessavar\n"
    "ProductVersion=1.0\n"
    "Comments=Compress, extract, test and view archives\n";

int main(int argc, char** argv) {
  tessavar::platform::PinLocalTimeZone();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tessavar");
  tessavar::ui::InstallComponentDialogs();
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  tessavar::app::TMainForm form(arguments);
  form.show();
  return app.exec();
}
