#include "ui/CtolmiDlg.h"

#include "ui/DialogTemplate.h"
#include "ui/QtPrompter.h"
#include "ui/Resource.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopedValueRollback>

CtolmiDlg::CtolmiDlg(QWidget* pParent)
    // An application window, not a dialog type, so task bars and Alt-Tab list it; the
    // dialog's modal loop and keys stay, and only the close box is asked for.
    : QDialog(pParent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_prompter(std::make_unique<QtPrompter>()) {
    for (int size : {16, 24, 32, 48, 256})
        m_hIcon.addFile(QStringLiteral(":/icons/%1.png").arg(size));

    setWindowTitle(DialogTemplate::Caption());
    setFont(DialogTemplate::Font());
    const DialogUnits units(font());
    resize(units.ToPixels(DialogTemplate::ClientRect()).size());
    m_controls = DialogTemplate::CreateControls(this);
    OnInitDialog();
    BuildRoutingTable();
}

// Each command releases its own connection: nothing to close here.
CtolmiDlg::~CtolmiDlg() = default;

void CtolmiDlg::BuildRoutingTable() {
    Route(m_btnConnect, &QPushButton::clicked, &CtolmiDlg::OnConnect);
    Route(m_btnDownload, &QPushButton::clicked, &CtolmiDlg::OnDownload);
    Route(m_btnUpload, &QPushButton::clicked, &CtolmiDlg::OnUpload);
    // Every click on a line, the selected one too, and every move with the keys.
    Route(m_listFiles, &QListWidget::itemClicked, &CtolmiDlg::OnFileListSelChange);
    Route(m_listFiles, &QListWidget::itemSelectionChanged, &CtolmiDlg::OnFileListSelChange);
    Route(m_btnExit, &QPushButton::clicked, &CtolmiDlg::OnExit);
    Route(m_btnRefresh, &QPushButton::clicked, &CtolmiDlg::OnRefresh);
    Route(m_listFiles, &QListWidget::itemDoubleClicked, &CtolmiDlg::OnFileListDblClk);
}

template <typename Sender, typename Signal>
void CtolmiDlg::Route(Sender* sender, Signal signal, void (CtolmiDlg::*handler)()) {
    connect(sender, signal, this, [this, handler] { RunHandler(handler); });
}

void CtolmiDlg::RunHandler(void (CtolmiDlg::*handler)()) {
    {
        const QScopedValueRollback<bool> running(m_bInCommand, true);
        (this->*handler)();
    }
    if (m_bCloseRequested && !m_bInCommand)
        QDialog::reject();
}

void CtolmiDlg::reject() {
    if (!m_bInCommand) {
        QDialog::reject();
        return;
    }
    // As 取消 does; nothing more is shown, and the window goes when the command has ended.
    m_monitor.Cancel();
    m_bCloseRequested = true;
}

template <typename Control> void CtolmiDlg::DDX_Control(int id, Control*& member) {
    if (member == nullptr)
        member = qobject_cast<Control*>(m_controls.value(id));
}

void CtolmiDlg::DDX_Text(bool bSaveAndValidate, int id, QString& member) {
    auto* edit = qobject_cast<QLineEdit*>(m_controls.value(id));
    if (bSaveAndValidate)
        member = edit->text();
    else
        edit->setText(member);
}

void CtolmiDlg::DoDataExchange(bool bSaveAndValidate) {
    DDX_Control(IDC_DOWNLOAD, m_btnDownload);
    DDX_Control(IDOK, m_btnConnect);
    DDX_Control(IDC_EXIT, m_btnExit);
    DDX_Control(IDC_UPLOAD, m_btnUpload);
    DDX_Control(IDC_FILE_LIST, m_listFiles);
    DDX_Text(bSaveAndValidate, IDC_SERVER, m_strServer);
    DDX_Control(IDC_SERVER, m_editServer);
    DDX_Text(bSaveAndValidate, IDC_USER, m_strUser);
    DDX_Control(IDC_USER, m_editUser);
    DDX_Text(bSaveAndValidate, IDC_PASSWORD, m_strPassword);
    DDX_Control(IDC_PASSWORD, m_editPassword);
    DDX_Control(IDC_REFRESH, m_btnRefresh);
}

bool CtolmiDlg::UpdateData(bool bSaveAndValidate) {
    DoDataExchange(bSaveAndValidate);
    return true;
}

bool CtolmiDlg::OnInitDialog() {
    UpdateData(true);
    setWindowIcon(m_hIcon);
    // Connect carries the dialog's OK: Enter in a field or in the list runs it.
    m_btnConnect->setDefault(true);
    m_btnDownload->setEnabled(false);
    m_strServer.clear();
    m_strUser.clear();
    m_strPassword.clear();
    UpdateData(false);
    m_editServer->setFocus();
    return true;
}

void CtolmiDlg::OnExit() {
    UpdateData(true);
    accept();
}

void CtolmiDlg::MessageBox(const QString& text) {
    if (!m_bCloseRequested)
        m_prompter->ShowMessage(this, text);
}

void CtolmiDlg::SetPrompter(std::unique_ptr<Prompter> prompter) {
    m_prompter = std::move(prompter);
}

void CtolmiDlg::SetLoginControlsEnabled(bool enabled) {
    for (QWidget* edit : {m_editServer, m_editUser, m_editPassword})
        SetControlEnabled(edit, enabled);
}

void CtolmiDlg::SetControlEnabled(QWidget* control, bool enabled) {
    // A control disabled with the window's focus would pass it on to the next one, 退出 among
    // them, where Enter ends the program. The list takes it instead: there Enter runs Connect.
    // While a message box that has just closed leaves the window inactive, the control has no
    // focus of its own, yet the window gives it back to it: it still counts.
    if (!enabled && focusWidget() == control)
        m_listFiles->setFocus();
    control->setEnabled(enabled);
}
