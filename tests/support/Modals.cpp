#include "support/Modals.h"

#include "ui/ProgressDialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

Modals::Modals() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == m_answered)
            return;
        m_answered = modal;
        if (auto* progress = qobject_cast<ProgressDialog*>(modal)) {
            progressShown = true;
            if (onProgress)
                onProgress(*progress);
            return;
        }
        QList<int> keys = boxKeys;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages << box->text();
        } else if (auto* edit = modal->findChild<QLineEdit*>("fileNameEdit")) {
            offeredNames << edit->text();
            // Set, not typed: the completer's list would take the Enter.
            edit->setText(fileName);
            keys = {fileName.isEmpty() ? Qt::Key_Escape : Qt::Key_Return};
        }
        const QString title = modal->windowTitle();
        for (int key : keys)
            QTest::keyClick(modal->windowHandle(), Qt::Key(key));
        QCOMPARE(title, "tst_window");
    });
    m_timer.start(20);
}
