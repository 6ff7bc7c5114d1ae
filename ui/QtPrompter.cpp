#include "ui/QtPrompter.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

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
