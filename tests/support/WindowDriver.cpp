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
    for (auto [id, text] : {std::pair{IDC_SERVER, server}, std::pair{IDC_USER, user},
                            std::pair{IDC_PASSWORD, password}}) {
        auto* edit = Find<QLineEdit>(id);
        edit->clear();
        edit->insert(text);
    }
}

void WindowDriver::LogInTo(const TestServer& server) {
    Type(server.Address(), server.User(), server.Password());
}

QStringList WindowDriver::Lines() const {
    QStringList lines;
    const auto* list = Find<QListWidget>(IDC_FILE_LIST);
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

void WindowDriver::ClickLine(const QString& text) {
    auto* list = Find<QListWidget>(IDC_FILE_LIST);
    const auto found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable("no line " + text));
    list->scrollToItem(found.first());
    const QPoint center = list->visualItemRect(found.first()).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, center);
}

void WindowDriver::DoubleClickLine(const QString& text) {
    auto* list = Find<QListWidget>(IDC_FILE_LIST);
    const auto found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable("no line " + text));
    list->scrollToItem(found.first());
    const QPoint center = list->visualItemRect(found.first()).center();
    QWidget* viewport = list->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, center);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, center);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, center);
}

void WindowDriver::Click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

bool WindowDriver::ConnectionReleased() const {
    return !dlg.HoldsConnection();
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
