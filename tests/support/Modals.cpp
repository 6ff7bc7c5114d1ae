#include "support/Modals.h"

#include "ui/ProgressDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

Modals::Modals() {
    connect(&m_timer, &QTimer::timeout, this, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible() && modal != m_answered) {
            m_answered = modal;
            Answer(modal);
        }
    });
    m_timer.start(20);
}

void Modals::Answer(QWidget* modal) {
    if (auto* progress = qobject_cast<ProgressDialog*>(modal)) {
        progressShown = true;
        if (onProgress)
            onProgress(*progress);
        return;
    }
    QList<int> keys = boxKeys;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        texts << box->text();
        titles << box->windowTitle();
    } else if (qobject_cast<QFileDialog*>(modal)) {
        auto* edit = modal->findChild<QLineEdit*>("fileNameEdit");
        offeredNames << edit->text();
        // Set, not typed: the completer's list would take the Enter.
        edit->setText(fileName);
        keys = {fileName.isEmpty() ? Qt::Key_Escape : Qt::Key_Return};
    }
    for (int key : keys)
        QTest::keyClick(modal->windowHandle(), Qt::Key(key));
}
