#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class TransferMonitor;

// What a long command is doing, as the progress window says it.
enum class ProgressActivity { Connecting, OpeningDirectory, Listing, Uploading, Downloading };

// A small modal window over the main window: what the command is doing, how far it is, and a
// Cancel button.
class ProgressDialog : public QDialog {
    Q_OBJECT

public:
    ProgressDialog(QWidget* owner, TransferMonitor& monitor, ProgressActivity activity,
                   const QString& subject);

    // Reads the monitor again and shows its figures.
    void Refresh();

    QString Figures() const;
    QString Encryption() const; // empty before the login
    QPushButton* CancelButton() const { return m_cancel; }

private:
    void Cancel();
    void reject() override; // Escape and the close box cancel too

    TransferMonitor& m_monitor;
    ProgressActivity m_activity;
    QElapsedTimer m_elapsed;
    QLabel* m_figures;
    QLabel* m_encryption;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
};
