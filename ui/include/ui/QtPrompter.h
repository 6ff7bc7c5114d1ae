#pragma once

#include "ui/Prompter.h"

// Asks with Qt's message box and file choosers, titled with the application's name.
class QtPrompter : public Prompter {
public:
    void ShowMessage(QWidget* owner, const QString& text) override;
    QString ChooseFileToOpen(QWidget* owner) override;
    QString ChooseFileToSave(QWidget* owner, const QString& suggestedName) override;
    bool AskToTrust(QWidget* owner, const QString& question) override;
};
