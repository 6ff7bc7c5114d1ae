#include "support/ProgressWatch.h"

#include "support/ModalAnswerer.h"
#include "ui/ProgressDialog.h"

#include <QDialog>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

// Counts the events of one type that reach a widget.
class EventCounter : public QObject {
public:
    EventCounter(QObject* target, QEvent::Type type) : m_type(type) {
        target->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == m_type ? 1 : 0;
        return false;
    }

private:
    QEvent::Type m_type;
};

void Record(ProgressSeen& seen, ProgressDialog& progress) {
    progress.Refresh();
    seen.figures << progress.Figures();
    seen.barValues << progress.findChild<QProgressBar*>()->value();
    seen.encryption = progress.Encryption();
}

// The throttled servers send in bursts, so one short wait may see no change. The amount done
// leads the figures; speed and time left follow it.
void WaitUntilMoving(ProgressSeen& seen, ProgressDialog& progress) {
    auto amount = [](const QString& figures) { return figures.section("，", 0, 0); };
    QElapsedTimer waited;
    waited.start();
    do {
        QTest::qWait(200);
        progress.Refresh();
    } while (amount(progress.Figures()) == amount(seen.figures[0]) && waited.elapsed() < 8000);
    Record(seen, progress);
}

void CountWhatTheWindowHandles(ProgressSeen& seen, QDialog& window) {
    auto* list = window.findChild<QListWidget*>();
    EventCounter posted(&window, QEvent::User);
    EventCounter paints(list->viewport(), QEvent::Paint);
    QCoreApplication::postEvent(&window, new QEvent(QEvent::User));
    list->viewport()->update();
    QTest::qWait(300);
    seen.postedDuring = posted.count;
    seen.paintsDuring = paints.count;
}

} // namespace

std::shared_ptr<ProgressSeen> WatchNextProgress(const QString& action, QDialog& mainWindow) {
    auto seen = std::make_shared<ProgressSeen>();
    QPointer<QDialog> window(&mainWindow);
    AnswerNextModal(
        [seen, action, window](QWidget* modal) {
            auto* progress = qobject_cast<ProgressDialog*>(modal);
            seen->shown = progress != nullptr;
            if (!progress || !window || action == "watch")
                return;
            Record(*seen, *progress);
            if (action == "cancel-when-moving")
                WaitUntilMoving(*seen, *progress);
            if (action == "paint-check")
                CountWhatTheWindowHandles(*seen, *window);
            seen->sinceAction.start();
            if (action == "close")
                window->close(); // as the close box does, and the desktop at logout
            else if (action == "escape")
                QTest::keyClick(window, Qt::Key_Escape);
            else
                progress->CancelButton()->click();
        },
        action == "watch" ? 1000 : 5000);
    return seen;
}
