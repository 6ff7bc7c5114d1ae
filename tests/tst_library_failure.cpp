// A libcurl that cannot make a handle fails the command like a failed login, and the next
// command works.
#include "tests/support/TestServer.h"
#include "tests/support/WindowDriver.h"

#include <QtTest>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>

namespace {

// libcurl's handles are made with calloc: this one fails on demand.
std::atomic<bool> g_callocFails{false};

void* SwitchableCalloc(size_t count, size_t size) {
    return g_callocFails ? nullptr : std::calloc(count, size);
}

} // namespace

class LibraryFailureTest : public QObject {
    Q_OBJECT

private slots:
    void failedHandleFailsLikeALogin() {
        // Before anything else in this process starts libcurl.
        QCOMPARE(curl_global_init_mem(CURL_GLOBAL_DEFAULT, std::malloc, std::free, std::realloc,
                                      strdup, SwitchableCalloc),
                 CURLE_OK);
        TestServer server;
        QString error;
        QVERIFY2(server.Start(error), qPrintable(error));
        WindowDriver window;
        window.LogInTo(server);
        g_callocFails = true;
        window.dlg.OnConnect();
        g_callocFails = false;
        QCOMPARE(window.prompter->messages.last(), QString("无法连接！"));
        QVERIFY(window.ConnectionReleased());
        window.dlg.OnConnect();
        QCOMPARE(window.prompter->messages.last(), "连接成功！" + server.Address());
    }
};

QTEST_MAIN(LibraryFailureTest)
#include "tst_library_failure.moc"
