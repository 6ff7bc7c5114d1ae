#pragma once

#include <QString>

class QWidget;

// The modal questions and messages the main window puts to the user.
class Prompter {
public:
    virtual ~Prompter() = default;

    // A message box with the text alone and one OK button.
    virtual void ShowMessage(QWidget* owner, const QString& text) = 0;
    // The chosen file's full path; empty when the user cancelled.
    virtual QString ChooseFileToOpen(QWidget* owner) = 0;
    // The chosen full path, `suggestedName` offered; empty when the user cancelled.
    virtual QString ChooseFileToSave(QWidget* owner, const QString& suggestedName) = 0;
    // True when the user trusts the certificate or SSH key `question` describes; cancel is the
    // default.
    virtual bool AskToTrust(QWidget* owner, const QString& question) = 0;
};
