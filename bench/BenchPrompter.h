#pragma once

#include "ui/Prompter.h"

#include <QStringList>

// Answers the window's questions at once, so that only the commands are timed.
class BenchPrompter : public Prompter {
public:
    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
    QString ChooseFileToOpen(QWidget*) override { return Take(openAnswers); }
    QString ChooseFileToSave(QWidget*, const QString&) override { return Take(saveAnswers); }
    bool AskToTrust(QWidget*, const QString&) override { return false; }

    QStringList openAnswers;
    QStringList saveAnswers;
    QStringList messages;

private:
    static QString Take(QStringList& answers) {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
