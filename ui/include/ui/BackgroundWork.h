#pragma once

#include "ui/ProgressDialog.h"

#include <QString>
#include <functional>

// Runs one blocking step of a command on a worker thread and waits for it. The window keeps
// painting meanwhile but takes no input; after half a second a progress window with a Cancel
// button appears. No thread outlives the call.
void RunInBackground(QWidget* owner, TransferMonitor& monitor, ProgressActivity activity,
                     const QString& subject, const std::function<void()>& work);

// The same for a step with a result: the worker only returns it, and the caller receives it on
// its own thread after the worker has ended, so the caller's state is written there alone.
template <typename T>
T RunInBackground(QWidget* owner, TransferMonitor& monitor, ProgressActivity activity,
                  const QString& subject, const std::function<T()>& work) {
    T result{};
    RunInBackground(owner, monitor, activity, subject,
                    std::function<void()>([&result, &work] { result = work(); }));
    return result;
}
