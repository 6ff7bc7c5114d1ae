#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <memory>

class QDialog;

// What the next progress window showed, and when the user acted on it.
struct ProgressSeen {
    bool shown = false;
    QStringList figures; // on opening, and once more just before the action
    QList<int> barValues;
    QString encryption;
    QElapsedTimer sinceAction; // since the cancel or the close
    int postedDuring = -1;     // events the main window took while the command ran
    int paintsDuring = -1;
};

// Watches for the next progress window and acts on it as a user would: "cancel" at once,
// "cancel-when-moving" once the amount done moves, "close" or "escape" the main window,
// "paint-check" counts what the main window still handles, then cancels; "watch" only looks.
std::shared_ptr<ProgressSeen> WatchNextProgress(const QString& action, QDialog& mainWindow);
