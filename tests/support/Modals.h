#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

class ProgressDialog;
class QWidget;

// Answers every modal window that opens while it lives, as a user does: a message box with
// `boxKeys` (its text is kept), a file dialog with `fileName` typed and Enter (Escape when empty),
// the progress window with `onProgress`.
class Modals : public QObject {
public:
    Modals();

    QStringList texts;
    QStringList titles;
    QStringList offeredNames; // what each file dialog offered
    QString fileName;
    QList<int> boxKeys{Qt::Key_Return};
    std::function<void(ProgressDialog&)> onProgress;
    bool progressShown = false;

private:
    void Answer(QWidget* modal);

    QTimer m_timer;
    QPointer<QWidget> m_answered;
};
