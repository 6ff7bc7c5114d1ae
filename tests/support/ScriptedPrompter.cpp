#include "support/ScriptedPrompter.h"

void ScriptedPrompter::ShowMessage(QWidget*, const QString& text) {
    messages << text;
    if (onMessage)
        onMessage(text);
}

QString ScriptedPrompter::ChooseFileToOpen(QWidget*) {
    ++choosersShown;
    return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
}

QString ScriptedPrompter::ChooseFileToSave(QWidget*, const QString& suggestedName) {
    ++choosersShown;
    suggestedNames << suggestedName;
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
}

bool ScriptedPrompter::AskToTrustCertificate(QWidget*, const QString& question) {
    certificateQuestions << question;
    return !trustAnswers.isEmpty() && trustAnswers.takeFirst();
}
