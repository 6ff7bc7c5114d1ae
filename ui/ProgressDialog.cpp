#include "ui/ProgressDialog.h"

#include "Messages.h"
#include "ftp/TransferMonitor.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString ActivityText(ProgressActivity activity, const QString& subject) {
    switch (activity) {
    case ProgressActivity::Connecting:
        return QString(Messages::kConnecting).arg(subject);
    case ProgressActivity::OpeningDirectory:
        return QString(Messages::kOpeningDirectory).arg(subject);
    case ProgressActivity::Listing:
        return QString(Messages::kReadingListing);
    case ProgressActivity::Uploading:
        return QString(Messages::kUploading).arg(subject);
    case ProgressActivity::Downloading:
        return QString(Messages::kDownloading).arg(subject);
    }
    return {};
}

QString Size(double bytes) {
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(bytes / 1024, 0, 'f', 1);
    if (bytes < 1024.0 * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(bytes / (1024.0 * 1024 * 1024), 0, 'f', 2);
}

// Empty until the connection is logged in.
QString EncryptionText(int tlsMinorVersion) {
    if (tlsMinorVersion == TransferMonitor::kNotConnected)
        return {};
    if (tlsMinorVersion == TransferMonitor::kClearText)
        return QString::fromUtf8(Messages::kNotEncrypted);
    if (tlsMinorVersion == TransferMonitor::kSsh)
        return QString::fromUtf8(Messages::kEncryptedSsh);
    return QString::fromUtf8(Messages::kEncrypted).arg(tlsMinorVersion);
}

} // namespace

ProgressDialog::ProgressDialog(QWidget* owner, TransferMonitor& monitor, ProgressActivity activity,
                               const QString& subject)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_monitor(monitor), m_activity(activity), m_figures(new QLabel(this)),
      m_encryption(new QLabel(this)), m_bar(new QProgressBar(this)),
      m_cancel(new QPushButton(Messages::kCancelButton, this)) {
    setWindowTitle(QCoreApplication::applicationName());
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    auto* what = new QLabel(ActivityText(activity, subject), this);
    what->setWordWrap(true);
    layout->addWidget(what);
    layout->addWidget(m_encryption);
    layout->addWidget(m_figures);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    // The window grows with its figures instead of cutting them off.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_figures->setMinimumWidth(420);
    connect(m_cancel, &QPushButton::clicked, this, &ProgressDialog::Cancel);
    m_elapsed.start();
    Refresh();
}

void ProgressDialog::Cancel() {
    m_monitor.Cancel();
    m_cancel->setEnabled(false);
    m_figures->setText(Messages::kCancelling);
}

void ProgressDialog::reject() {
    // The window goes when the command has ended, not before.
    Cancel();
}

QString ProgressDialog::Figures() const {
    return m_figures->text();
}

QString ProgressDialog::Encryption() const {
    return m_encryption->text();
}

void ProgressDialog::Refresh() {
    m_encryption->setText(EncryptionText(m_monitor.TlsMinorVersion()));
    if (m_monitor.IsCancelled())
        return;
    if (m_activity == ProgressActivity::Listing) {
        m_figures->setText(QString(Messages::kEntriesRead).arg(m_monitor.Entries()));
        m_bar->setRange(0, 0);
        return;
    }
    if (m_activity != ProgressActivity::Uploading && m_activity != ProgressActivity::Downloading) {
        m_bar->setRange(0, 0);
        return;
    }
    const qint64 done = m_monitor.BytesDone();
    const qint64 total = m_monitor.BytesTotal();
    const double seconds = std::max<qint64>(m_elapsed.elapsed(), 1) / 1000.0;
    const double speed = done / seconds;
    QString figures = QString(Messages::kBytesDone).arg(Size(done));
    if (total > 0)
        figures += QString(Messages::kBytesTotal).arg(Size(total));
    figures += QString(Messages::kSpeed).arg(Size(speed));
    if (total > 0 && speed > 0 && done <= total)
        figures += QString(Messages::kTimeLeft).arg(qRound((total - done) / speed));
    m_figures->setText(figures);
    if (total > 0) {
        m_bar->setRange(0, 1000);
        m_bar->setValue(static_cast<int>(1000.0 * std::min(done, total) / total));
    } else {
        m_bar->setRange(0, 0);
    }
}
