#pragma once

#include "ftp/CFtpConnection.h"
#include "ftp/CFtpFileFind.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "ftp/TransferMonitor.h"
#include "listing/RemotePath.h"
#include "ui/BackgroundWork.h"
#include "ui/Prompter.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// The main window: login fields, the list of the remote directory, and the commands.
class CtolmiDlg : public QDialog {
    Q_OBJECT

public:
    explicit CtolmiDlg(QWidget* pParent = nullptr);
    ~CtolmiDlg() override;

    // Copies the three edits into their text members (true) or back (false).
    bool UpdateData(bool bSaveAndValidate = true);

    // Where the window's questions go; tests and the benchmark answer them themselves.
    void SetPrompter(std::unique_ptr<Prompter> prompter);
    void SetFtpTimeouts(const FtpTimeouts& timeouts) { m_ftpTimeouts = timeouts; }
    // A certificate authority trusted besides the system's (tests use their own).
    void SetTlsAuthority(const QString& caFile) { m_tlsTrust.SetAuthorityFile(caFile); }

    // The directory the list shows, relative to the login directory.
    const RemotePath& ListedDirectory() const { return m_listedDirectory; }
    // Between commands nothing is held: each command releases its own connection.
    bool HoldsConnection() const { return m_pSession || m_pConnection || m_pFinder; }

private:
    // Commands.
    void OnConnect();
    void OnRefresh();
    void OnUpload();
    void OnDownload();
    void OnFileListSelChange();
    void OnFileListDblClk();
    void OnExit();

    // Per-command connection.
    // The login's result; the connection is m_pConnection.
    FtpResult OpenConnection();
    void ReleaseConnection();

    // Listing.
    void ClearFileList();
    void OpenFinder();
    void ListCurrentDirectory();
    void ListCurrentDirectoryInOrder();

    FtpResult UploadFile(QString strLocalPath, QString strRemoteName);
    // `expectedSize`, where the listing gave one, lets the progress window show time left.
    FtpResult DownloadFile(QByteArray remoteName, QString strLocalPath, qint64 expectedSize = -1);

    // One line of the list: its text, and the entry it stands for.
    struct ListLine {
        QString text;
        QByteArray rawName;
        bool isDirectory;
        qint64 size;
        bool kindKnown; // false: a file line that may still be a directory
    };

    void DoDataExchange(bool bSaveAndValidate);
    template <typename Control> void DDX_Control(int id, Control*& member);
    void DDX_Text(bool bSaveAndValidate, int id, QString& member);
    bool OnInitDialog();
    void BuildRoutingTable();
    // Sends `signal` of `sender` to `handler`, run as a command of the window.
    template <typename Sender, typename Signal>
    void Route(Sender* sender, Signal signal, void (CtolmiDlg::*handler)());
    void RunHandler(void (CtolmiDlg::*handler)());
    // Escape, the close box and the desktop: during a command they cancel it, and the window
    // closes once it has ended.
    void reject() override;
    void MessageBox(const QString& text);
    void SetLoginControlsEnabled(bool enabled);
    void SetControlEnabled(QWidget* control, bool enabled);

    ListLine CurrentFinderLine() const;
    // Hands every entry the finder has left to `visit`, in the server's order.
    void ReadFinderLines(const std::function<void(ListLine)>& visit);
    void AddLines(const std::vector<ListLine>& lines);
    // The selected line, when a line is selected.
    std::optional<ListLine> SelectedLine() const;
    // The steps Connect, Refresh and entering a directory share: read the fields, empty the
    // list, log in, report, change to `directory`, list it, release.
    struct ListingCommand {
        QString loginFailure;
        QString loginSuccess; // empty: no message
        bool appendServer;    // the server text follows the success message
        void (CtolmiDlg::*list)();
        // The directory may be none (an entry of unknown kind): when it cannot be entered,
        // the list stays as it was and nothing is said.
        bool tentative = false;
    };
    void RunListingCommand(const ListingCommand& command, const RemotePath& directory);

    // Runs one blocking step of the command off the window's thread, with progress and
    // Cancel when it takes long; the step's result comes back to the window's thread.
    template <typename T>
    T RunInBackground(ProgressActivity activity, const QString& subject,
                      const std::function<T()>& work) {
        return ::RunInBackground<T>(this, m_monitor, activity, subject, work);
    }
    // After a failed login: warns of a changed certificate or SSH key, or asks whether to trust
    // a certificate that did not verify or an unknown key. True when the login is to be tried
    // again, pinned to it.
    bool TrustServerAfter(const CInternetException& failure);
    // Makes `directory` current on the command's connection; the login directory already is.
    FtpResult EnterDirectory(const RemotePath& directory);
    // Logs in, enters the listed directory and runs `transfer` there.
    FtpResult TransferInListedDirectory(ProgressActivity activity, const QString& subject,
                                        const std::function<FtpResult(CFtpConnection&)>& transfer);

    std::unique_ptr<CInternetSession> m_pSession;
    std::unique_ptr<CFtpConnection> m_pConnection;
    std::unique_ptr<CFtpFileFind> m_pFinder;
    bool m_bWorking = false;
    QIcon m_hIcon;
    QPushButton* m_btnDownload = nullptr;
    QPushButton* m_btnConnect = nullptr;
    QPushButton* m_btnExit = nullptr;
    QPushButton* m_btnUpload = nullptr;
    QListWidget* m_listFiles = nullptr;
    QString m_strServer;
    QLineEdit* m_editServer = nullptr;
    QString m_strUser;
    QLineEdit* m_editUser = nullptr;
    QString m_strPassword;
    QLineEdit* m_editPassword = nullptr;
    QPushButton* m_btnRefresh = nullptr;

    QHash<int, QWidget*> m_controls;
    std::unique_ptr<Prompter> m_prompter;
    FtpTimeouts m_ftpTimeouts;
    RemotePath m_listedDirectory;
    TransferMonitor m_monitor;
    bool m_bInCommand = false;
    bool m_bCloseRequested = false;
    // Live for the run: servers that spoke TLS, certificates the user trusted, servers that
    // refused MLSD.
    TlsTrust m_tlsTrust;
    MlsdSupport m_mlsdSupport;
};
