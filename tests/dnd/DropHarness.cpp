// The drop-target harness program: shows the window and prints
// "OPENED <path>" for every drop that opened a file.

#include "DropHarnessWindow.h"

#include "platform/Ole.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    OleInitialize(nullptr);
    int rc = 0;
    {
        QApplication app(argc, argv);
        DropHarnessWindow window;
        window.onOpened = [&window](const QStringList&) {
            std::printf("OPENED %s\n", window.pa_FileName->text().toLocal8Bit().constData());
            std::fflush(stdout);
        };
        window.move(0, 0);
        window.show();
        rc = QApplication::exec();
    }
    OleUninitialize();
    return rc;
}
