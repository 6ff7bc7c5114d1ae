#include "ui/CtolmiDlg.h"

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
        MessageBox(UploadFile(localPath, remoteName) ? Messages::kUploadSucceeded
                                                     : Messages::kUploadFailed);
    } else {
        MessageBox(Messages::kNoFileChosen);
    }
    SetLoginControlsEnabled(true);
    m_btnConnect->setEnabled(true);
}

bool CtolmiDlg::TransferInListedDirectory(ProgressActivity activity, const QString& subject,
                                          const std::function<bool(CFtpConnection&)>& transfer) {
    OpenConnection();
    bool done = false;
    if (m_pConnection && EnterDirectory(m_listedDirectory)) {
        done =
            RunInBackground<bool>(activity, subject, [&transfer, connection = m_pConnection.get()] {
                return transfer(*connection);
            });
    }
    ReleaseConnection();
    return done;
}

bool CtolmiDlg::UploadFile(QString strLocalPath, QString strRemoteName) {
    // The name keeps the local file name's own bytes.
    const QByteArray remoteName = QFile::encodeName(strRemoteName);
    return TransferInListedDirectory(
        ProgressActivity::Uploading, strRemoteName,
        [&](CFtpConnection& connection) { return connection.PutFile(strLocalPath, remoteName); });
}
