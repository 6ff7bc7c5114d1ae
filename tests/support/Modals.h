#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

class ProgressDialog;

// Answers each modal window that opens while it lives, as a user does: a message box with
// `boxKeys`, a file dialog with `fileName` and Enter (Escape when empty), the progress window
// with `onProgress`. Each but the progress window must be titled with the program's name.
struct Modals {
    Modals();

    QStringList messages;
    QStringList offeredNames; // by the file dialogs
    QString fileName;
    QList<int> boxKeys{Qt::Key_Return};
    std::function<void(ProgressDialog&)> onProgress;
    bool progressShown = false;

private:
    QTimer m_timer;
    QPointer<QWidget> m_answered;
};
