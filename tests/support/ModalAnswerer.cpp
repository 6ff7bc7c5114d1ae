#include "support/ModalAnswerer.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

void AnswerNextModal(const std::function<void(QWidget*)>& answer, int timeoutMs) {
    // Owned by the application, so a watch still running when its test ends is freed too.
    auto* timer = new QTimer(QCoreApplication::instance());
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible()) {
            timer->deleteLater();
            timer->stop();
            answer(modal);
        } else if (elapsed.elapsed() > timeoutMs) {
            timer->deleteLater();
            timer->stop();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
        }
    });
    timer->start(20);
}
