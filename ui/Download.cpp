#include "ui/CtolmiDlg.h"

#include "FailureMessage.h"
#include "Messages.h"

#include "listing/RemoteName.h"

#include <QPushButton>

namespace {

// A remote name is offered as a local file name only where it can be one.
QString LocalFileNameFor(QString remoteName) {
    for (QChar& c : remoteName) {
        if (c == '/' || c.unicode() < 0x20)
            c = '_';
    }
    if (remoteName.isEmpty() || remoteName == "." || remoteName == "..")
        return Messages::kUntitled;
    return remoteName;
}

} // namespace

void CtolmiDlg::OnDownload() {
    UpdateData(true);
    const std::optional<ListLine> line = SelectedLine();
    if (!line) {
        MessageBox(Messages::kNoLineSelected);
    } else if (line->isDirectory) {
        MessageBox(Messages::kDirectoryNotDownloadable);
    } else {
        const QString localPath = m_prompter->ChooseFileToSave(this, LocalFileNameFor(line->text));
        if (!localPath.isEmpty()) {
            const FtpResult result = DownloadFile(line->rawName, localPath, line->size);
            MessageBox(
                result ? QString(Messages::kDownloadSucceeded)
                       : FailureMessage(CommandStep::Transfer, result, Messages::kDownloadFailed));
        } else {
            MessageBox(Messages::kNoLocalName);
        }
    }
    SetLoginControlsEnabled(true);
    m_btnConnect->setEnabled(true);
    SetControlEnabled(m_btnDownload, false);
}

FtpResult CtolmiDlg::DownloadFile(QByteArray remoteName, QString strLocalPath,
                                  qint64 expectedSize) {
    return TransferInListedDirectory(ProgressActivity::Downloading, RemoteName::Display(remoteName),
                                     [&, monitor = &m_monitor](CFtpConnection& connection) {
                                         monitor->SetExpectedTotal(expectedSize);
                                         return connection.GetFile(remoteName, strLocalPath);
                                     });
}
