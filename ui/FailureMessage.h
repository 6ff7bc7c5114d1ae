#pragma once

#include "ftp/FtpResult.h"

#include <QString>

// The step of a command that failed.
enum class CommandStep { Login, EnterDirectory, Transfer };

// What the window says after a failed step. Its texts are fixed: a failure's reason decides only
// which of them is shown. `commandFailed` is the command's own failure text.
QString FailureMessage(CommandStep step, const FtpResult& result, const QString& commandFailed);
