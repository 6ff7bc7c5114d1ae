#include "ui/BackgroundWork.h"

#include "ui/ProgressDialog.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <memory>

namespace {

constexpr int kProgressDelayMs = 500;
constexpr int kRefreshMs = 200;

} // namespace

void RunInBackground(QWidget* owner, TransferMonitor& monitor, ProgressActivity activity,
                     const QString& subject, const std::function<void()>& work) {
    const std::unique_ptr<QThread> worker(QThread::create(work));
    ProgressDialog progress(owner, monitor, activity, subject);
    QEventLoop waiting;
    QObject::connect(worker.get(), &QThread::finished, &progress, [&] {
        waiting.quit();
        progress.done(QDialog::Accepted);
    });
    QTimer delay;
    delay.setSingleShot(true);
    QObject::connect(&delay, &QTimer::timeout, &waiting, &QEventLoop::quit);
    worker->start();
    delay.start(kProgressDelayMs);

    // Input that arrives now waits until the step is over, as it would for a blocking call;
    // painting and timers go on.
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    if (!worker->isFinished()) {
        QTimer refresh;
        QObject::connect(&refresh, &QTimer::timeout, &progress, &ProgressDialog::Refresh);
        refresh.start(kRefreshMs);
        progress.exec();
    }
    worker->wait();
}
