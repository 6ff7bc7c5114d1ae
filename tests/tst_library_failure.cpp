// A libcurl that cannot make a handle, for the login or for the certificate probe after it,
// fails the command like a failed login, and the next command works.
#include "support/Modals.h"
#include "support/TestCertificates.h"
#include "support/TestServer.h"
#include "ui/CtolmiDlg.h"
#include "ui/Resource.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>

namespace {

// libcurl makes each handle with one calloc of the handle's size: this one lets a number of
// them succeed, then fails them (-1: no limit).
std::atomic<size_t> g_handleSize{0};
std::atomic<bool> g_measuring{false};
std::atomic<int> g_handlesLeft{-1};

void* SwitchableCalloc(size_t count, size_t size) {
    if (g_measuring)
        g_handleSize = std::max<size_t>(g_handleSize, count * size);
    else if (count * size == g_handleSize && g_handlesLeft >= 0 && g_handlesLeft-- == 0)
        return nullptr;
    return std::calloc(count, size);
}

} // namespace

class LibraryFailureTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before anything else in this process starts libcurl.
        QCOMPARE(curl_global_init_mem(CURL_GLOBAL_DEFAULT, std::malloc, std::free, std::realloc,
                                      strdup, SwitchableCalloc),
                 CURLE_OK);
        g_measuring = true;
        curl_easy_cleanup(curl_easy_init());
        g_measuring = false;
        QString error;
        QVERIFY2(m_certificates.Generate(error), qPrintable(error));
    }

    void failedHandleFailsLikeALogin_data() {
        QTest::addColumn<int>("handlesMade");
        QTest::addColumn<bool>("tls");
        QTest::newRow("login") << 0 << false;
        // The login's handle, and the one its first request makes to close connections with.
        QTest::newRow("certificate probe") << 2 << true;
    }

    void failedHandleFailsLikeALogin() {
        QFETCH(int, handlesMade);
        QFETCH(bool, tls);
        TestServerOptions options;
        if (tls) {
            options.tls = TlsOffer::Explicit;
            options.certificate = m_certificates.SelfSigned(0);
        }
        TestServer server(options);
        QString error;
        QVERIFY2(server.Start(error), qPrintable(error));
        CtolmiDlg dlg;
        Modals modals;
        dlg.show();
        const auto find = [&dlg](ResourceId id) {
            return dlg.findChild<QWidget*>(QString::number(id));
        };
        for (auto [id, text] : {std::pair{IDC_SERVER, server.Address()},
                                {IDC_USER, server.User()},
                                {IDC_PASSWORD, server.Password()}})
            qobject_cast<QLineEdit*>(find(id))->setText(text);
        g_handlesLeft = handlesMade;
        QTest::mouseClick(find(IDOK), Qt::LeftButton);
        g_handlesLeft = -1;
        // No certificate question either.
        QCOMPARE(modals.texts, QStringList{"无法连接！"});
        QVERIFY(!dlg.HoldsConnection());
        modals.boxKeys = {Qt::Key_Backtab, Qt::Key_Space}; // trusts the certificate
        QTest::mouseClick(find(IDOK), Qt::LeftButton);
        QCOMPARE(modals.texts.last(), "连接成功！" + server.Address());
    }

private:
    TestCertificates m_certificates;
};

QTEST_MAIN(LibraryFailureTest)
#include "tst_library_failure.moc"
