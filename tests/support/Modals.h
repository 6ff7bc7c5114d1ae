#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

class ProgressDialog;
class QWidget;

// Answers each modal window that opens while it lives, as a user does: a message box with
// `boxKeys`, a file dialog with `fileName` and Enter (Escape when empty), the progress window
// with `onProgress`.
class Modals : public QObject {
public:
    Modals();

    QStringList texts; // of the message boxes
    QStringList titles;
    QStringList offeredNames; // by the file dialogs
    QString fileName;
    QList<int> boxKeys{Qt::Key_Return};
    std::function<void(ProgressDialog&)> onProgress;
    bool progressShown = false;

private:
    void Answer(QWidget* modal);

    QTimer m_timer;
    QPointer<QWidget> m_answered;
};
