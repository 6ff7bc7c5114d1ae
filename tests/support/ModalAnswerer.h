#pragma once

#include <QString>
#include <functional>

class QWidget;

// Waits (bounded) for a modal dialog to open and hands it to `answer`; a dialog still open
// when time runs out is rejected, so a stray modal can never hang a test.
void AnswerNextModal(const std::function<void(QWidget*)>& answer, int timeoutMs = 5000);
