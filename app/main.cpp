#include "app/CtolmiApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The command line is not interpreted, not even by Qt: only the program name is passed on,
    // so the application's name still follows the executable's file name.
    char* qtArgv[] = {CtolmiApp::ProgramName(argc, argv), nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationVersion(QStringLiteral(TOLMI_VERSION));
    theApp.InitInstance();
    return 0;
}
