#pragma once

#include "ui/Prompter.h"

#include <QStringList>
#include <functional>

// Answers the window's questions from a script and records every message shown.
class ScriptedPrompter : public Prompter {
public:
    void ShowMessage(QWidget* owner, const QString& text) override;
    QString ChooseFileToOpen(QWidget* owner) override;
    QString ChooseFileToSave(QWidget* owner, const QString& suggestedName) override;
    bool AskToTrustCertificate(QWidget* owner, const QString& question) override;

    // Answers for the choosers, taken in order; an empty answer is a cancel.
    QStringList openAnswers;
    QStringList saveAnswers;
    // Answers to certificate questions, in order; none left is a cancel.
    QList<bool> trustAnswers;
    QStringList certificateQuestions;

    QStringList messages;
    QStringList suggestedNames;
    int choosersShown = 0;
    // Runs while a message box would be open.
    std::function<void(const QString&)> onMessage;
};
