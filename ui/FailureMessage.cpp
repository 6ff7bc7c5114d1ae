#include "FailureMessage.h"

#include "Messages.h"

QString FailureMessage(CommandStep step, const FtpResult& result, const QString& commandFailed) {
    switch (step) {
    case CommandStep::EnterDirectory:
        // A cancelled command fails as a failed login does.
        return result.Reason() == FtpReason::Cancelled ? commandFailed
                                                       : QString(Messages::kDirectoryFailed);
    case CommandStep::Login:
    case CommandStep::Transfer:
        break;
    }
    return commandFailed;
}
