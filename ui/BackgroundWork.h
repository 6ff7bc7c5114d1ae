#pragma once

#include <QString>
#include <functional>

class QWidget;
class TransferMonitor;

// What a long command is doing, as the progress window says it.
enum class ProgressActivity { Connecting, OpeningDirectory, Listing, Uploading, Downloading };

// Runs one blocking step of a command on a worker thread and waits for it. The window keeps
// painting meanwhile but takes no input; after half a second a progress window with a Cancel
// button appears. No thread outlives the call.
void RunInBackground(QWidget* owner, TransferMonitor& monitor, ProgressActivity activity,
                     const QString& subject, const std::function<void()>& work);
