#include "ui/CtolmiDlg.h"

#include "FailureMessage.h"
#include "Messages.h"

#include <QFile>
#include <QFileInfo>
#include <QPushButton>

void CtolmiDlg::OnUpload() {
    UpdateData(true);
    SetLoginControlsEnabled(false);
    SetControlEnabled(m_btnConnect, false);
    const QString localPath = m_prompter->ChooseFileToOpen(this);
    if (!localPath.isEmpty()) {
        const QString remoteName = QFileInfo(localPath).fileName();
        const FtpResult result = UploadFile(localPath, remoteName);
        MessageBox(result ? QString(Messages::kUploadSucceeded)
                          : FailureMessage(CommandStep::Transfer, result, Messages::kUploadFailed));
    } else {
        MessageBox(Messages::kNoFileChosen);
    }
    SetLoginControlsEnabled(true);
    m_btnConnect->setEnabled(true);
}

FtpResult
CtolmiDlg::TransferInListedDirectory(ProgressActivity activity, const QString& subject,
                                     const std::function<FtpResult(CFtpConnection&)>& transfer) {
    FtpResult result = OpenConnection();
    if (result)
        result = EnterDirectory(m_listedDirectory);
    if (result) {
        result = RunInBackground<FtpResult>(
            activity, subject,
            [&transfer, connection = m_pConnection.get()] { return transfer(*connection); });
    }
    ReleaseConnection();
    return result;
}

FtpResult CtolmiDlg::UploadFile(QString strLocalPath, QString strRemoteName) {
    // The name keeps the local file name's own bytes.
    const QByteArray remoteName = QFile::encodeName(strRemoteName);
    return TransferInListedDirectory(
        ProgressActivity::Uploading, strRemoteName,
        [&](CFtpConnection& connection) { return connection.PutFile(strLocalPath, remoteName); });
}
