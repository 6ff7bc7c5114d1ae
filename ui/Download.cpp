#include "ui/CtolmiDlg.h"

#include <QPushButton>

namespace {

// A remote name is offered as a local file name only where it can be one.
QString LocalFileNameFor(QString remoteName) {
    for (QChar& c : remoteName) {
        if (c == '/' || c.unicode() < 0x20)
            c = '_';
    }
    if (remoteName.isEmpty() || remoteName == "." || remoteName == "..")
        return QStringLiteral("未命名");
    return remoteName;
}

} // namespace

void CtolmiDlg::OnDownload() {
    UpdateData(true);
    QByteArray rawName;
    bool isDirectory = false;
    QString text;
    if (!SelectedEntry(rawName, isDirectory, text)) {
        MessageBox(QStringLiteral("请选择要下载的文件!"));
    } else if (isDirectory) {
        MessageBox(QStringLiteral("不能下载目录，请重新选择!"));
    } else {
        const QString localPath = m_prompter->ChooseFileToSave(this, LocalFileNameFor(text));
        if (!localPath.isEmpty()) {
            MessageBox(DownloadFile(rawName, localPath) ? QStringLiteral("下载成功!")
                                                        : QStringLiteral("下载失败!"));
        } else {
            MessageBox(QStringLiteral("请输入文件名!"));
        }
    }
    SetLoginControlsEnabled(true);
    m_btnConnect->setEnabled(true);
    m_btnDownload->setEnabled(false);
}

bool CtolmiDlg::DownloadFile(QByteArray remoteName, QString strLocalPath) {
    return TransferInListedDirectory(
        [&](CFtpConnection& connection) { return connection.GetFile(remoteName, strLocalPath); });
}
