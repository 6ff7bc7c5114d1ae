#include "app/CtolmiApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    (void)argc;
    // The command line is not interpreted, not even by Qt: only the program name is passed on,
    // so the application's name still follows the executable's file name.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationVersion(QStringLiteral(TOLMI_VERSION));
    theApp.InitInstance();
    return 0;
}
