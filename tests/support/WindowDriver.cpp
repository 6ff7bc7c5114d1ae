#include "support/WindowDriver.h"

#include "support/TestServer.h"

#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

ScriptedPrompter* InstallPrompter(CtolmiDlg& dlg) {
    auto prompter = std::make_unique<ScriptedPrompter>();
    ScriptedPrompter* raw = prompter.get();
    dlg.SetPrompter(std::move(prompter));
    return raw;
}

} // namespace

WindowDriver::WindowDriver() : prompter(InstallPrompter(dlg)) {
    dlg.show();
    dlg.activateWindow();
    if (!QTest::qWaitForWindowActive(&dlg))
        qWarning("the main window did not become active");
}

void WindowDriver::Type(const QString& server, const QString& user, const QString& password) {
    for (auto [edit, text] : {std::pair{dlg.m_editServer, server}, std::pair{dlg.m_editUser, user},
                              std::pair{dlg.m_editPassword, password}}) {
        edit->clear();
        edit->insert(text);
    }
}

void WindowDriver::LogInTo(const TestServer& server) {
    Type(server.Address(), server.User(), server.Password());
}

QStringList WindowDriver::Lines() const {
    QStringList lines;
    for (int i = 0; i < dlg.m_listFiles->count(); ++i)
        lines << dlg.m_listFiles->item(i)->text();
    return lines;
}

void WindowDriver::ClickLine(const QString& text) {
    const auto found = dlg.m_listFiles->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable("no line " + text));
    dlg.m_listFiles->scrollToItem(found.first());
    const QPoint center = dlg.m_listFiles->visualItemRect(found.first()).center();
    QTest::mouseClick(dlg.m_listFiles->viewport(), Qt::LeftButton, {}, center);
}

void WindowDriver::DoubleClickLine(const QString& text) {
    const auto found = dlg.m_listFiles->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable("no line " + text));
    dlg.m_listFiles->scrollToItem(found.first());
    const QPoint center = dlg.m_listFiles->visualItemRect(found.first()).center();
    QWidget* viewport = dlg.m_listFiles->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, center);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, center);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, center);
}

void WindowDriver::Click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

bool WindowDriver::ConnectionReleased() const {
    return !dlg.m_pSession && !dlg.m_pConnection && !dlg.m_pFinder;
}

std::vector<std::pair<QByteArray, bool>> ServerOrder(const TestServer& server,
                                                     const RemotePath& directory) {
    const QStringList hostPort = server.Address().split(':');
    QStringList arguments{TOLMI_SOURCE_DIR "/tests/servers/ftplib_listing.py", hostPort[0],
                          hostPort[1], server.User(), server.Password()};
    for (const QByteArray& segment : directory.Segments())
        arguments << QString::fromLatin1(segment.toHex());
    QProcess lister;
    lister.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!lister.waitForFinished(20000) || lister.exitCode() != 0)
        qFatal("ftplib could not list the directory: %s", lister.readAllStandardError().data());
    std::vector<std::pair<QByteArray, bool>> order;
    for (const QByteArray& line : lister.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            order.emplace_back(QByteArray::fromHex(line.mid(2)), line.startsWith('d'));
    }
    return order;
}
