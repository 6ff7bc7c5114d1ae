// Connect, Refresh, selection and entering directories, on the real window and a real server.
#include "tests/support/HostileServer.h"
#include "tests/support/TestServer.h"
#include "tests/support/WindowDriver.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

const RemotePath kDocs = RemotePath().Child("docs");

QString LineFor(const QByteArray& name, bool isDirectory) {
    const QString text = QString::fromUtf8(name);
    return isDirectory ? "[" + text + "]" : text;
}

// Directories first, "." left out; then files; each group in the server's order.
QStringList Grouped(const std::vector<std::pair<QByteArray, bool>>& order) {
    QStringList directories;
    QStringList files;
    for (const auto& [name, isDirectory] : order) {
        if (isDirectory && name != ".")
            directories << LineFor(name, true);
        else if (!isDirectory)
            files << LineFor(name, false);
    }
    return directories + files;
}

QStringList InOrder(const std::vector<std::pair<QByteArray, bool>>& order) {
    QStringList lines;
    for (const auto& [name, isDirectory] : order)
        lines << LineFor(name, isDirectory);
    return lines;
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void connectListsGroupedAndRefreshInServerOrder();
    void fixedListingsInBothOrders_data();
    void fixedListingsInBothOrders();
    void emptyLoginNameLogsInAsAnonymous();
    void groupedListingKeepsTheFirstRealDirectory();
    void everyLoginFailureEmptiesTheListAndReleases_data();
    void everyLoginFailureEmptiesTheListAndReleases();
    void fieldsChangedBetweenCommandsTakeEffect();
    void selectionLocksLoginFieldsAndEnablesDownload();
    void listingCommandsChangeNoControlState();
    void entersDirectoriesInsideTheListedOne();
    void parentEntryGoesUp();
    void missingDirectoryShowsMessageAndEmptyList();
    void doubleClickOnFileOrNothingChangesNothing();
    void refreshAfterEnteringListsLoginDirectory();

private:
    std::unique_ptr<TestServer> m_server;
};

void CommandsTest::initTestCase() {
    m_server = std::make_unique<TestServer>(TestServerOptions{TestServer::KindFromEnvironment()});
    m_server->WriteFile("docs/a.txt", "docs a");
    m_server->WriteFile("docs/sub/deep.txt", "deep");
    m_server->WriteFile("a.txt", "root a");
    m_server->WriteFile("with space.txt", "space");
    m_server->WriteFile("中文.txt", "chinese");
    m_server->WriteFile("[x].txt", "bracket");
    m_server->MakeDirectory("empty");
    m_server->MakeDirectory("onlysub/inner");
    m_server->MakeDirectory("目录");
    QString error;
    QVERIFY2(m_server->Start(error), qPrintable(error));
}

void CommandsTest::connectListsGroupedAndRefreshInServerOrder() {
    const auto order = ServerOrder(*m_server);
    const qsizetype before = m_server->Commands().size();
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.prompter->messages, QStringList{"连接成功！" + m_server->Address()});
    QCOMPARE(window.Lines(), Grouped(order));
    QVERIFY(window.Lines().contains("[目录]"));
    QVERIFY(window.Lines().contains("[x].txt"));
    QVERIFY(window.Lines().contains("with space.txt"));
    QVERIFY(!window.Lines().contains("[.]"));
    QVERIFY(window.ConnectionReleased());

    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(window.prompter->messages.last(), QString("刷新成功！"));
    QCOMPARE(window.Lines(), InOrder(order));
    if (m_server->Kind() == ServerKind::Proftpd)
        QVERIFY(window.Lines().contains("[.]") && window.Lines().contains("[..]"));
    QVERIFY(window.ConnectionReleased());

    // Twice in a row gives the same list.
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.Lines(), Grouped(order));

    // Three listings: a server without MLSD is asked for it once per connection, then LIST.
    const QStringList commands = m_server->Commands().mid(before);
    const bool listOnly = m_server->Kind() == ServerKind::PyftpdlibListOnly;
    QCOMPARE(commands.count("MLSD"), 3);
    QCOMPARE(commands.count("LIST") + commands.count("LIST -a"), listOnly ? 3 : 0);
}

void CommandsTest::fixedListingsInBothOrders_data() {
    QTest::addColumn<QStringList>("served"); // in the server's order; "/" marks a directory
    QTest::addColumn<QStringList>("grouped");
    QTest::addColumn<QStringList>("inOrder");
    QTest::newRow("directories and files interleaved")
        << QStringList{"d1/", "a.txt", "d2/", "b.txt", "d3/"}
        << QStringList{"[d1]", "[d2]", "[d3]", "a.txt", "b.txt"}
        << QStringList{"[d1]", "a.txt", "[d2]", "b.txt", "[d3]"};
    QTest::newRow("dot entries first")
        << QStringList{"./", "../", "x/", "f"} << QStringList{"[..]", "[x]", "f"}
        << QStringList{"[.]", "[..]", "[x]", "f"};
    QTest::newRow("empty") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("one subdirectory only")
        << QStringList{"sub/"} << QStringList{"[sub]"} << QStringList{"[sub]"};
    QTest::newRow("files only") << QStringList{"y.txt", "x.txt"} << QStringList{"y.txt", "x.txt"}
                                << QStringList{"y.txt", "x.txt"};
}

void CommandsTest::fixedListingsInBothOrders() {
    QFETCH(QStringList, served);
    QFETCH(QStringList, grouped);
    QFETCH(QStringList, inOrder);
    QTemporaryDir dir;
    QFile listing(dir.filePath("listing"));
    QVERIFY(listing.open(QIODevice::WriteOnly));
    for (const QString& entry : served) {
        const bool isDirectory = entry.endsWith('/');
        listing.write(
            (isDirectory ? "type=dir; " + entry.chopped(1) : "type=file; " + entry).toUtf8() +
            "\r\n");
    }
    listing.close();
    HostileServer server(QStringLiteral("well_behaved"), "file:" + listing.fileName());
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));

    WindowDriver window;
    window.Type(server.Address(), QStringLiteral("u"), QStringLiteral("p"));
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.Lines(), grouped);
    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(window.Lines(), inOrder);
}

void CommandsTest::emptyLoginNameLogsInAsAnonymous() {
    if (m_server->Kind() == ServerKind::Proftpd)
        QSKIP("the proftpd set-up has no anonymous account");
    TestServer anonymous({m_server->Kind(), false, true});
    QString error;
    QVERIFY2(anonymous.Start(error), qPrintable(error));
    WindowDriver window;
    window.Type(anonymous.Address(), QString(), QString());
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.prompter->messages.last(), "连接成功！" + anonymous.Address());
    QVERIFY(anonymous.Commands().contains("USER anonymous"));
    // A server that knows no anonymous user refuses it.
    window.Type(m_server->Address(), QString(), QString());
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.prompter->messages.last(), QString("无法连接！"));
}

void CommandsTest::groupedListingKeepsTheFirstRealDirectory() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[onlysub]");
    QCOMPARE(window.Lines(), Grouped(ServerOrder(*m_server, RemotePath().Child("onlysub"))));
    QCOMPARE(window.Lines().first(), QString("[inner]"));
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[empty]");
    QCOMPARE(window.Lines(), Grouped(ServerOrder(*m_server, RemotePath().Child("empty"))));
    QVERIFY(window.Lines().size() <= 1);           // at most the parent entry
    QCOMPARE(window.prompter->messages.size(), 2); // the two Connects only
}

void CommandsTest::everyLoginFailureEmptiesTheListAndReleases_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::newRow("wrong password") << ""
                                    << "wrong";
    QTest::newRow("empty server") << "<empty>"
                                  << "";
    QTest::newRow("nothing listening") << "<closed>"
                                       << "";
    QTest::newRow("port out of range") << "127.0.0.1:70000"
                                       << "";
    QTest::newRow("line break in password") << ""
                                            << "secret\r\nDELE a.txt";
}

void CommandsTest::everyLoginFailureEmptiesTheListAndReleases() {
    QFETCH(QString, server);
    QFETCH(QString, password);
    if (server.isEmpty())
        server = m_server->Address();
    else if (server == "<empty>")
        server.clear();
    else if (server == "<closed>")
        server = QStringLiteral("127.0.0.1:%1").arg(FreeLoopbackPort());
    if (password.isEmpty())
        password = m_server->Password();

    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    QVERIFY(!window.Lines().isEmpty());
    window.Type(server, m_server->User(), password);

    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.prompter->messages.last(), QString("无法连接！"));
    QVERIFY(window.Lines().isEmpty());
    QVERIFY(window.ConnectionReleased());

    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.Type(server, m_server->User(), password);
    window.DoubleClickLine("[docs]");
    QCOMPARE(window.prompter->messages.last(), QString("无法连接！"));
    QVERIFY(window.Lines().isEmpty());
    QVERIFY(window.ConnectionReleased());

    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(window.prompter->messages.last(), QString("无法刷新！"));
    QVERIFY(window.Lines().isEmpty());
    QVERIFY(window.ConnectionReleased());
    QVERIFY(QFile::exists(m_server->Root() + "/a.txt"));

    // The next command works at once.
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(window.prompter->messages.last(), QString("刷新成功！"));
    QVERIFY(!window.Lines().isEmpty());
}

void CommandsTest::fieldsChangedBetweenCommandsTakeEffect() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.dlg.m_editPassword->setText("changed");
    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(window.prompter->messages.last(), QString("无法刷新！"));
    QCOMPARE(window.dlg.m_strPassword, QString("changed"));
    window.dlg.m_editPassword->setText(m_server->Password());
    window.dlg.m_editServer->setText(" " + m_server->Address());
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.prompter->messages.last(), QString("无法连接！"));
}

void CommandsTest::selectionLocksLoginFieldsAndEnablesDownload() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    QVERIFY(window.LoginFieldsEnabled());
    QVERIFY(!window.dlg.m_btnDownload->isEnabled());
    window.ClickLine("[docs]");
    QVERIFY(!window.LoginFieldsEnabled());
    QVERIFY(window.dlg.m_btnDownload->isEnabled());
    for (QPushButton* b : {window.dlg.m_btnConnect, window.dlg.m_btnRefresh, window.dlg.m_btnUpload,
                           window.dlg.m_btnExit})
        QVERIFY(b->isEnabled());

    // The arrow keys select as a click does.
    WindowDriver keys;
    keys.LogInTo(*m_server);
    keys.Click(keys.dlg.m_btnConnect);
    keys.dlg.m_listFiles->setFocus();
    QTest::keyClick(keys.dlg.m_listFiles, Qt::Key_Down);
    QVERIFY(!keys.dlg.m_listFiles->selectedItems().isEmpty());
    QVERIFY(!keys.LoginFieldsEnabled());
    QVERIFY(keys.dlg.m_btnDownload->isEnabled());
}

void CommandsTest::listingCommandsChangeNoControlState() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.ClickLine("a.txt");
    window.Click(window.dlg.m_btnRefresh);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[docs]");
    QVERIFY(!window.LoginFieldsEnabled());
    QVERIFY(window.dlg.m_btnDownload->isEnabled());
    // The list was refilled with nothing selected.
    QVERIFY(window.dlg.m_listFiles->selectedItems().isEmpty());
}

void CommandsTest::entersDirectoriesInsideTheListedOne() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[docs]");
    QCOMPARE(window.Lines(), Grouped(ServerOrder(*m_server, kDocs)));
    QCOMPARE(window.prompter->messages.size(), 1); // entering shows no message
    QVERIFY(window.ConnectionReleased());

    // [sub] is docs/sub, not a sub of the login directory.
    window.DoubleClickLine("[sub]");
    QCOMPARE(window.Lines(), Grouped(ServerOrder(*m_server, kDocs.Child("sub"))));
    QVERIFY(window.Lines().contains("deep.txt"));
    QCOMPARE(window.dlg.ListedDirectory(), kDocs.Child("sub"));
    QCOMPARE(window.prompter->messages.size(), 1);

    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[目录]");
    QCOMPARE(window.Lines(), Grouped(ServerOrder(*m_server, RemotePath().Child("目录"))));
    QVERIFY(!window.Lines().contains("[目录]"));
    QCOMPARE(window.prompter->messages.size(), 2);
}

void CommandsTest::parentEntryGoesUp() {
    if (m_server->Kind() != ServerKind::Proftpd)
        QSKIP("only proftpd lists the parent entry");
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[docs]");
    window.DoubleClickLine("[sub]");
    window.DoubleClickLine("[..]");
    QCOMPARE(window.Lines(), Grouped(ServerOrder(*m_server, kDocs)));
    QCOMPARE(window.dlg.ListedDirectory(), kDocs);
}

void CommandsTest::missingDirectoryShowsMessageAndEmptyList() {
    m_server->MakeDirectory("doomed");
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    QVERIFY(QDir(m_server->Root()).rmdir("doomed"));
    window.DoubleClickLine("[doomed]");
    QCOMPARE(window.prompter->messages.last(), QString("无法打开目录！"));
    QVERIFY(window.Lines().isEmpty());
    QCOMPARE(window.dlg.ListedDirectory(), RemotePath());
    QVERIFY(window.ConnectionReleased());
}

void CommandsTest::doubleClickOnFileOrNothingChangesNothing() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    const QStringList before = window.Lines();
    // A file whose name begins with "[" is still a file.
    window.DoubleClickLine("[x].txt");
    window.DoubleClickLine("a.txt");
    QCOMPARE(window.Lines(), before);
    QCOMPARE(window.prompter->messages.size(), 1);

    window.dlg.m_listFiles->clearSelection();
    window.dlg.OnFileListDblClk();
    QCOMPARE(window.Lines(), before);
    QCOMPARE(window.prompter->messages.size(), 1);
}

void CommandsTest::refreshAfterEnteringListsLoginDirectory() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[docs]");
    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(window.Lines(), InOrder(ServerOrder(*m_server)));
    QCOMPARE(window.dlg.ListedDirectory(), RemotePath());
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
