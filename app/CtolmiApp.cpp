#include "app/CtolmiApp.h"

#include "ui/CtolmiDlg.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

CtolmiApp theApp;

char* CtolmiApp::ProgramName(int argc, char* argv[]) {
    static char defaultName[] = "tolmi";
    if (argc < 1 || argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0')
        return defaultName;
    return argv[0];
}

bool CtolmiApp::InitInstance() {
    // Restart manager, control container, shell manager and the common-controls request have
    // no counterpart on a Linux desktop: Qt's own set-up stands in for them.

    // The organisation name stands where the registry key would; nothing is ever stored
    // under it.
    QCoreApplication::setOrganizationName(QStringLiteral(TOLMI_ORGANIZATION));

    // Qt's own buttons and file choosers speak the window's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);

    CtolmiDlg dlg;
    m_pMainWnd = &dlg;
    dlg.exec();
    m_pMainWnd = nullptr;
    return false;
}
