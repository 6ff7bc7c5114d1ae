#pragma once

#include "support/ScriptedPrompter.h"
#include "ui/CtolmiDlg.h"
#include "ui/Resource.h"

#include <QListWidget>
#include <QStringList>

class TestServer;

// The real main window, shown and active, with its questions answered by a script; drives it
// the way a user does.
class WindowDriver {
public:
    WindowDriver();

    // Types the three login fields.
    void Type(const QString& server, const QString& user, const QString& password);
    void LogInTo(const TestServer& server);

    QStringList Lines() const;
    // Clicks / double-clicks the line with this text, as a mouse does.
    void ClickLine(const QString& text);
    void DoubleClickLine(const QString& text);
    void Click(QWidget* button);
    // A control of the window, found by its object name (its template id).
    template <typename Control = QWidget> Control* Find(ResourceId id) const {
        auto* control = dlg.findChild<Control*>(QString::number(id));
        if (control == nullptr)
            qFatal("the window has no control %d", int(id));
        return control;
    }

    bool ConnectionReleased() const;

    CtolmiDlg dlg;
    ScriptedPrompter* prompter;
};

// The entries of a directory in the server's own order, as (raw name, is a directory), read by
// an independent client.
std::vector<std::pair<QByteArray, bool>> ServerOrder(const TestServer& server,
                                                     const RemotePath& directory = {});
