#include "ui/QtPrompter.h"

#include "Messages.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

void QtPrompter::ShowMessage(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    owner);
    box.exec();
}

QString QtPrompter::ChooseFileToOpen(QWidget* owner) {
    return QFileDialog::getOpenFileName(owner, QCoreApplication::applicationName());
}

QString QtPrompter::ChooseFileToSave(QWidget* owner, const QString& suggestedName) {
    // The chooser asks before an existing file is chosen.
    return QFileDialog::getSaveFileName(owner, QCoreApplication::applicationName(), suggestedName);
}

bool QtPrompter::AskToTrust(QWidget* owner, const QString& question) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), question,
                    QMessageBox::NoButton, owner);
    QPushButton* trust =
        box.addButton(QString::fromUtf8(Messages::kTrustForThisRun), QMessageBox::AcceptRole);
    QPushButton* cancel =
        box.addButton(QString::fromUtf8(Messages::kCancelButton), QMessageBox::RejectRole);
    // Enter, Escape and the close box all keep the certificate or key untrusted.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    // The certificate's fields and the key's type are the server's text: never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return box.clickedButton() == trust;
}
