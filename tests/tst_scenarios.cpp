// Plays the scenario files in tests/scenarios/ on the real window against a real server (the
// kind named by TOLMI_TEST_SERVER; the file by TOLMI_SCENARIOS).
//
// Steps before the first title run at the start of every scenario (they fill the login directory).
// "== title {kinds}" starts a scenario, run only on the server kinds named (all when none);
// "each A ;; B" runs it once per row, where $row is the row and $1, $2, ... its " = " parts;
// a step whose {kinds} holds "$1=x" runs only in the rows whose first part is x.
// A step line is "{kinds} verb arguments"; lists are separated by " | ", "<none>" is an empty
// one, "-" an empty field, \r \n \xNN stand for bytes. $address, $user, $password and $closed
// (a port nothing listens on) name the current server. Contents: text, <empty>, <bytes> (every
// byte value and line ends), <random MiB>. The verbs are the cases of Scenario::Step.
#include "listing/RemoteName.h"
#include "support/DataFile.h"
#include "support/HostileServer.h"
#include "support/ModalAnswerer.h"
#include "support/ProgressWatch.h"
#include "support/TestCertificates.h"
#include "support/TestServer.h"
#include "support/WindowDriver.h"
#include "ui/QtPrompter.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct Line {
    int number;
    QString text;
};

struct ScenarioText {
    QString title;
    QString row;
    std::vector<Line> steps;
};

// "<c*N>" stands for N times the character c.
QString Expand(QString text) {
    static const QRegularExpression repeat(R"(<(.)\*(\d+)>)");
    for (QRegularExpressionMatch match = repeat.match(text); match.hasMatch();
         match = repeat.match(text))
        text.replace(match.capturedStart(), match.capturedLength(),
                     match.captured(1).repeated(match.captured(2).toInt()));
    return text;
}

// A line or field text as the window shows it.
QString Text(const QString& spec) {
    return QString::fromUtf8(Unescape(Expand(spec).toUtf8()));
}

QByteArray Content(const QString& spec) {
    if (spec == "<empty>")
        return {};
    if (spec == "<bytes>") {
        QByteArray bytes;
        for (int i = 0; i < 256; ++i)
            bytes.append(static_cast<char>(i));
        return bytes + "\r\n\n\r" + bytes;
    }
    if (spec.startsWith("<random ")) {
        QByteArray bytes(spec.mid(8).chopped(1).toInt() * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        return bytes;
    }
    return Unescape(Expand(spec).toUtf8());
}

QStringList List(const QString& text) {
    QStringList items;
    for (const QString& item : text.split(" | "))
        items << Text(item);
    return text == "<none>" ? QStringList() : items;
}

// "name = content" as the two sides.
std::pair<QString, QString> Assignment(const QString& text) {
    const qsizetype at = text.indexOf(" = ");
    return {text.left(at), text.mid(at + 3)};
}

// Server kinds, or "a=b" words that hold when both sides are the same (a row's part and a value).
bool RunsOn(const QString& kinds) {
    const QString kind = TestServer::KindName(TestServer::KindFromEnvironment());
    for (const QString& word : kinds.split(' ')) {
        if (word == kind || (word.contains('=') && word.section('=', 0, 0) == word.section('=', 1)))
            return true;
    }
    return kinds.isEmpty();
}

// The kinds in "{...}" at the start (steps) or end (titles) of `text`, taken off it.
QString TakeKinds(QString& text, bool atEnd) {
    const QRegularExpression pattern(atEnd ? R"(\s*\{([^}]*)\}$)" : R"(^\{([^}]*)\}\s*)");
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return {};
    text.remove(match.capturedStart(), match.capturedLength());
    return match.captured(1);
}

RemotePath PathOf(const QString& text) {
    RemotePath path;
    for (const QString& segment : text.split('/', Qt::SkipEmptyParts))
        path = path.Child(segment.toUtf8());
    return path;
}

QStringList LinesFor(const std::vector<std::pair<QByteArray, bool>>& order, bool grouped) {
    QStringList directories;
    QStringList files;
    for (const auto& [name, isDirectory] : order) {
        const QString text = QString::fromUtf8(name);
        if (isDirectory && !(grouped && name == "."))
            (grouped ? directories : files) << "[" + text + "]";
        else if (!isDirectory)
            files << text;
    }
    return directories + files;
}

// Raw bytes go to the file system as they are: Qt cannot name every such file.
bool WriteBytes(const QByteArray& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(QFile::decodeName(path)).path());
    FILE* file = std::fopen(path.constData(), "wb");
    const bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) ==
                                     static_cast<size_t>(bytes.size());
    return file && std::fclose(file) == 0 && written;
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Made once per run, on first use: openssl takes a while.
const TestCertificates& Certificates() {
    static const std::unique_ptr<TestCertificates> made = [] {
        auto certificates = std::make_unique<TestCertificates>();
        QString error;
        if (!certificates->Generate(error))
            qFatal("%s", qPrintable(error));
        return certificates;
    }();
    return *made;
}

// Every login sent AUTH TLS first (implicit TLS needs none) and PROT P, never AUTH SSL.
bool EncryptedLogins(const QStringList& commands, bool implicit) {
    bool encrypted = implicit;
    int logins = 0;
    for (const QString& command : commands) {
        if (command.startsWith("AUTH SSL") || (command.startsWith("USER ") && !encrypted))
            return false;
        logins += command.startsWith("USER ") ? 1 : 0;
        encrypted = command.startsWith("AUTH TLS") || (encrypted && !command.startsWith("USER ")) ||
                    implicit;
    }
    return logins > 0 && commands.count("PROT P") == logins;
}

} // namespace

// One scenario on one window; Step returns what went wrong, empty when the step held.
class Scenario {
public:
    Scenario(TestServer& main, QTemporaryDir& local)
        : m_main(main), m_server(&main), m_local(local), m_mark(main.Commands().size()) {}

    QString Step(const QString& verb, const QString& argument);
    // The current server's $address, $user, $password, and $closed.
    QString Substitute(QString text) const;

private:
    QString Expect(bool held, const QString& what) const { return held ? QString() : what; }
    QString Compare(const QStringList& actual, const QStringList& expected) const {
        return Expect(actual == expected,
                      "got " + actual.join(" | ") + ", want " + expected.join(" | "));
    }
    QString CompareSorted(QStringList actual, QStringList expected) const {
        actual.sort();
        expected.sort();
        return Compare(actual, expected);
    }
    // A control by its name: server, user, password, list, or a button's (connect, ...).
    QWidget* Control(const QString& name) const;
    // Makes a new real server with these option words (or "main") the current server.
    QString UseServer(const QString& words);
    // Makes the scripted server playing `scenario` the current server.
    QString UseHostile(const QString& scenario, const QString& listing);
    QList<QWidget*> Controls(const QString& names) const;
    QString Address() const { return m_hostile ? m_hostile->Address() : m_server->Address(); }
    QStringList Commands() const {
        return (m_hostile ? m_hostile->Commands() : m_server->Commands()).mid(m_mark);
    }
    QString Local(const QString& name) const {
        return QDir::isAbsolutePath(name) ? name : m_local.path() + "/" + name;
    }
    QString Remote(const QString& path) const { return m_server->Root() + "/" + path; }
    bool HasLine(const QString& text) const { return m_window.Lines().contains(text); }

    TestServer& m_main;
    TestServer* m_server;
    std::unique_ptr<TestServer> m_other;
    std::unique_ptr<HostileServer> m_hostile;
    QTemporaryDir& m_local;
    QTemporaryDir m_listings;
    WindowDriver m_window;
    qsizetype m_mark; // commands before it are not counted
    QStringList m_remembered;
    qint64 m_lastRunMs = 0;
    std::optional<bool> m_heldDuringMessage;
    std::shared_ptr<ProgressSeen> m_progress = std::make_shared<ProgressSeen>();
};

QString Scenario::Substitute(QString text) const {
    return text.replace("$address", Address())
        .replace("$user", m_hostile ? "u" : m_server->User())
        .replace("$password", m_hostile ? "p" : m_server->Password())
        .replace("$closed", QStringLiteral("127.0.0.1:%1").arg(FreeLoopbackPort()))
        .replace("$fingerprint",
                 text.contains("$fingerprint")
                     ? Certificates().Sha256Fingerprint(m_server->Options().certificate)
                     : QString());
}

// Option words: a server kind, refuse-active, anonymous, refuse-rename, tls13-only,
// tls=explicit|required|implicit, cert=signed (the default)|self-signed|other-self-signed,
// throttle=N, cut-uploads=N, same-port (a server of the scenario's own, which stops first);
// "-" is none.
QString Scenario::UseServer(const QString& words) {
    m_mark = 0;
    m_hostile.reset();
    if (words == "main") {
        m_server = &m_main;
        return {};
    }
    TestServerOptions options{m_main.Kind()};
    const std::map<QString, TlsOffer> offers = {{"explicit", TlsOffer::Explicit},
                                                {"required", TlsOffer::Required},
                                                {"implicit", TlsOffer::Implicit}};
    const std::map<QString, int> selfSigned = {{"self-signed", 0}, {"other-self-signed", 1}};
    const std::map<QString, bool TestServerOptions::*> flags = {
        {"refuse-active", &TestServerOptions::refuseActive},
        {"anonymous", &TestServerOptions::anonymous},
        {"refuse-rename", &TestServerOptions::refuseRename},
        {"tls13-only", &TestServerOptions::tls13Only}};
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        const QString key = word.section('=', 0, 0);
        const QString value = word.section('=', 1);
        if (key == "tls" && offers.count(value)) {
            options.tls = offers.at(value);
        } else if (key == "cert" && (value == "signed" || selfSigned.count(value))) {
            options.certificate = value == "signed"
                                      ? Certificates().Signed()
                                      : Certificates().SelfSigned(selfSigned.at(value));
        } else if (key == "throttle" || key == "cut-uploads") {
            (key == "throttle" ? options.throttle : options.cutUploadsAt) = value.toInt();
        } else if (word == "same-port" && m_server == m_other.get()) {
            options.port = m_server->Address().section(':', 1).toUShort();
            m_other.reset();
        } else if (word == "proftpd" || word == "pyftpdlib") {
            options.kind = word == "proftpd" ? ServerKind::Proftpd : ServerKind::Pyftpdlib;
        } else if (flags.count(word)) {
            options.*flags.at(word) = true;
        } else if (word != "-") {
            return "unknown server option " + word;
        }
    }
    if (options.tls != TlsOffer::None && options.certificate.isEmpty())
        options.certificate = Certificates().Signed();
    m_other = std::make_unique<TestServer>(options);
    m_server = m_other.get();
    QString error;
    return Expect(m_other->Start(error), error);
}

QString Scenario::UseHostile(const QString& scenario, const QString& listing) {
    m_mark = 0;
    m_hostile = std::make_unique<HostileServer>(scenario, listing);
    QString error;
    return Expect(m_hostile->Start(error), error);
}

QWidget* Scenario::Control(const QString& name) const {
    const std::map<QString, ResourceId> ids = {
        {"server", IDC_SERVER},  {"user", IDC_USER},         {"password", IDC_PASSWORD},
        {"list", IDC_FILE_LIST}, {"connect", IDOK},          {"refresh", IDC_REFRESH},
        {"upload", IDC_UPLOAD},  {"download", IDC_DOWNLOAD}, {"exit", IDC_EXIT}};
    const auto found = ids.find(name);
    return found == ids.end() ? nullptr : m_window.Find(found->second);
}

QList<QWidget*> Scenario::Controls(const QString& names) const {
    QList<QWidget*> controls;
    for (const QString& name : List(names)) {
        if (name == "fields")
            controls << Control("server") << Control("user") << Control("password");
        else
            controls << Control(name);
    }
    return controls;
}

QString Scenario::Step(const QString& verb, const QString& argument) {
    CtolmiDlg& dlg = m_window.dlg;
    ScriptedPrompter& prompter = *m_window.prompter;
    const auto [name, content] = Assignment(argument);
    if (verb == "remote-file" || verb == "write-local")
        return Expect(WriteBytes(verb == "write-local" ? QFile::encodeName(Local(name))
                                                       : QFile::encodeName(m_server->Root()) + "/" +
                                                             Unescape(name.toUtf8()),
                                 Content(content)),
                      "cannot write " + name);
    if (verb == "remote-dir")
        return Expect(QDir().mkpath(Remote(argument)), "cannot make " + argument);
    if (verb == "remove-remote")
        return Expect(QFile::remove(Remote(argument)) || QDir().rmdir(Remote(argument)),
                      "cannot remove " + argument);
    if (verb == "remote")
        return Expect(ReadBytes(Remote(name)) == Content(content), name + " differs");
    if (verb == "no-remote")
        return Expect(!QFile::exists(Remote(argument)), argument + " exists");
    if (verb == "local")
        return Expect(ReadBytes(Local(name)) == Content(content), name + " differs");
    if (verb == "no-local" || verb == "has-local")
        return Expect(QFile::exists(Local(argument)) == (verb == "has-local"),
                      verb + " " + argument + " failed");
    if (verb == "use-server")
        return UseServer(argument);
    if (verb == "use-listing") {
        QFile listing(m_listings.filePath("listing"));
        if (!listing.open(QIODevice::WriteOnly))
            return "cannot write the listing";
        for (const QString& entry : List(argument))
            listing.write(
                (entry.endsWith('/') ? "type=dir; " + entry.chopped(1) : "type=file; " + entry)
                    .toUtf8() +
                "\r\n");
        listing.close();
        return UseHostile("well_behaved", "file:" + listing.fileName());
    }
    if (verb == "use-hostile") {
        const QString listing = argument.section(' ', 1);
        return UseHostile(argument.section(' ', 0, 0), listing.isEmpty() ? "good" : listing);
    }
    if (verb == "timeouts") {
        FtpTimeouts timeouts;
        timeouts.responseMs = timeouts.stallMs = timeouts.acceptMs =
            argument.section(' ', 0, 0).toLong();
        timeouts.connectMs = argument.section(' ', 1, 1).toLong();
        dlg.SetFtpTimeouts(timeouts);
        return {};
    }
    if (verb == "file-size-limit") {
        // A file size limit stands in for a full disk: writes past it fail.
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = argument == "none" ? limit.rlim_max : argument.toULong() * 1024 * 1024;
        std::signal(SIGXFSZ, argument == "none" ? SIG_DFL : SIG_IGN);
        return Expect(setrlimit(RLIMIT_FSIZE, &limit) == 0, "cannot limit the file size");
    }
    if (verb == "environment") {
        // "-" removes the variable.
        content == "-" ? qunsetenv(name.toUtf8()) : qputenv(name.toUtf8(), content.toUtf8());
        return {};
    }
    if (verb == "login") {
        m_window.Type(Address(), Substitute("$user"), Substitute("$password"));
        return {};
    }
    if (verb == "type") {
        QStringList fields = List(argument);
        for (QString& field : fields)
            field = field == "-" ? QString() : field;
        if (fields.size() != 3)
            return "type needs three fields";
        m_window.Type(fields[0], fields[1], fields[2]);
        return {};
    }
    if (verb == "click") {
        QWidget* button = Control(argument);
        if (!button)
            return "no button " + argument;
        m_window.Click(button);
        return {};
    }
    if (verb == "select" || verb == "enter") {
        const QString line = Text(argument);
        if (!HasLine(line))
            return "no line " + argument;
        verb == "select" ? m_window.ClickLine(line) : m_window.DoubleClickLine(line);
        return {};
    }
    if (verb == "deselect") {
        m_window.Find<QListWidget>(IDC_FILE_LIST)->clearSelection();
        return {};
    }
    if (verb == "run") {
        // The control's own signal, timed: a button's click, or a double-click on the
        // current line of the list (none, too).
        auto* button = qobject_cast<QPushButton*>(Control(argument));
        auto* list = m_window.Find<QListWidget>(IDC_FILE_LIST);
        if (!button && argument != "enter")
            return "no command " + argument;
        QElapsedTimer timer;
        timer.start();
        button ? button->click() : list->itemDoubleClicked(list->currentItem());
        m_lastRunMs = timer.elapsed();
        return {};
    }
    if (verb == "within")
        return Expect(m_lastRunMs <= argument.toDouble() * 1000,
                      QStringLiteral("the command took %1 ms").arg(m_lastRunMs));
    if (verb == "clear-messages") {
        prompter.messages.clear();
        return {};
    }
    if (verb == "key") {
        // "key K [control]": to the control, or to whatever has the focus.
        const std::map<QString, Qt::Key> keys = {
            {"enter", Qt::Key_Return},  {"keypad-enter", Qt::Key_Enter}, {"tab", Qt::Key_Tab},
            {"escape", Qt::Key_Escape}, {"down", Qt::Key_Down},          {"up", Qt::Key_Up}};
        QWidget* target = argument.contains(' ') ? Control(argument.section(' ', 1))
                                                 : QApplication::focusWidget();
        if (!keys.count(argument.section(' ', 0, 0)) || !target)
            return "cannot press " + argument;
        target->setFocus();
        QTest::keyClick(target, keys.at(argument.section(' ', 0, 0)));
        return {};
    }
    if (verb == "type-keys") {
        QTest::keyClicks(Control(argument.section(' ', 0, 0)), argument.section(' ', 1));
        return {};
    }
    if (verb == "shown-text")
        return Compare(
            {qobject_cast<QLineEdit*>(Control(argument.section(' ', 0, 0)))->displayText()},
            {argument.section(' ', 1)});
    if (verb == "saved") {
        QStringList expected = List(argument);
        std::replace(expected.begin(), expected.end(), QString("-"), QString());
        QStringList fields;
        for (QWidget* edit : Controls("fields"))
            fields << qobject_cast<QLineEdit*>(edit)->text();
        return Compare(fields, expected);
    }
    if (verb == "focus")
        return Expect(QApplication::focusWidget() == Control(argument),
                      "the focus is not on " + argument);
    if (verb == "title")
        return Compare({dlg.windowTitle()}, {argument});
    if (verb == "labels") {
        QStringList texts;
        for (QLabel* label : dlg.findChildren<QLabel*>())
            texts << label->text();
        return CompareSorted(texts, List(argument));
    }
    if (verb == "button-texts") {
        QStringList texts;
        for (QWidget* button : Controls("connect | refresh | upload | download | exit"))
            texts << qobject_cast<QPushButton*>(button)->text();
        return Compare(texts, List(argument));
    }
    if (verb == "close") {
        dlg.close(); // as the close box does
        return {};
    }
    if (verb == "open" || verb == "save") {
        (verb == "open" ? prompter.openAnswers : prompter.saveAnswers) << Local(argument);
        return {};
    }
    if (verb == "message") {
        if (m_heldDuringMessage && !*m_heldDuringMessage)
            return "the controls were not as expected while the message showed";
        m_heldDuringMessage.reset();
        prompter.onMessage = nullptr;
        return Compare(prompter.messages.mid(prompter.messages.size() - 1), {Text(argument)});
    }
    if (verb == "messages")
        return Compare(prompter.messages, List(argument));
    if (verb == "message-count")
        return Compare({QString::number(prompter.messages.size())}, {argument});
    if (verb == "while-message") {
        const QString state = argument.section(' ', 0, 0);
        const QList<QWidget*> controls = Controls(argument.section(' ', 1));
        prompter.onMessage = [this, state, controls](const QString&) {
            bool held = true;
            for (QWidget* control : controls)
                held = held && control->isEnabled() == (state == "enabled");
            m_heldDuringMessage = held;
        };
        return {};
    }
    if (verb == "lines")
        return Compare(m_window.Lines(), List(argument));
    if (verb == "lines-sorted")
        return CompareSorted(m_window.Lines(), List(argument));
    if (verb == "lines-grouped" || verb == "lines-in-order")
        return Compare(m_window.Lines(),
                       LinesFor(ServerOrder(*m_server, PathOf(argument)), verb == "lines-grouped"));
    if (verb == "has-line" || verb == "no-line") {
        for (const QString& line : List(argument)) {
            if (HasLine(line) != (verb == "has-line"))
                return verb + " " + line + " failed";
        }
        return {};
    }
    if (verb == "first-line" || verb == "last-line") {
        const QStringList lines = m_window.Lines();
        const QString line = lines.isEmpty()        ? QString()
                             : verb == "first-line" ? lines.first()
                                                    : lines.last();
        return Compare({line}, {Text(argument)});
    }
    if (verb == "line-count") {
        const qsizetype count = m_window.Lines().size();
        return Expect(count >= argument.section(' ', 0, 0).toInt() &&
                          count <= argument.section(' ', -1).toInt(),
                      QStringLiteral("%1 lines").arg(count));
    }
    if (verb == "some-lines")
        return Expect(!m_window.Lines().isEmpty(), "the list is empty");
    if (verb == "remember-lines") {
        m_remembered = m_window.Lines();
        return {};
    }
    if (verb == "lines-unchanged")
        return Compare(m_window.Lines(), m_remembered);
    if (verb == "enabled" || verb == "disabled") {
        for (QWidget* control : Controls(argument)) {
            if (!control || control->isEnabled() != (verb == "enabled"))
                return "not " + verb + ": " + argument;
        }
        return {};
    }
    if (verb == "selected") {
        QStringList selected;
        for (const QListWidgetItem* item :
             m_window.Find<QListWidget>(IDC_FILE_LIST)->selectedItems())
            selected << item->text();
        return Compare(selected, argument == "none" ? QStringList() : QStringList{Text(argument)});
    }
    if (verb == "released")
        return Expect(m_window.ConnectionReleased(), "a connection member is left");
    if (verb == "listed") {
        QString shown;
        for (const QByteArray& segment : dlg.ListedDirectory().Segments())
            shown += "/" + RemoteName::Display(segment);
        return Compare({shown.isEmpty() ? "/" : shown}, {Text(argument)});
    }
    if (verb == "choosers")
        return Compare({QString::number(prompter.choosersShown)}, {argument});
    if (verb == "suggested")
        return Compare(prompter.suggestedNames.mid(prompter.suggestedNames.size() - 1),
                       {Text(argument)});
    if (verb == "mark") {
        m_mark += Commands().size();
        return {};
    }
    if (verb == "commands" || verb == "seen") {
        // A command ending in "*" matches any that starts with what comes before it.
        const QString command = verb == "seen" ? argument : argument.section(' ', 0, -2);
        const QString end = command.endsWith('*') ? QString() : "( |$)";
        const qsizetype count =
            Commands()
                .filter(QRegularExpression(
                    "^" + QRegularExpression::escape(command.chopped(end.isEmpty() ? 1 : 0)) + end))
                .size();
        return verb == "seen" ? Expect(count > 0, "never sent: " + command)
                              : Compare({QString::number(count)}, {argument.section(' ', -1)});
    }
    if (verb == "remote-files") {
        // Exactly these files, hidden ones too; a removal may still be on its way.
        const auto files = [this] {
            return QDir(m_server->Root()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        };
        return QTest::qWaitFor([&] { return files() == List(argument); }, 3000)
                   ? QString()
                   : Compare(files(), List(argument));
    }
    if (verb == "remote-series") {
        // "N pattern": N empty files named by the pattern with %1 as 0 .. N-1.
        for (int i = 0; i < argument.section(' ', 0, 0).toInt(); ++i)
            m_server->WriteFile(argument.section(' ', 1).arg(i), {});
        return {};
    }
    if (verb == "uploaded" || verb == "uploaded-or-nothing") {
        // A success is the whole file; only where the server may cut uploads off a failure is
        // fine, and then nothing of it stays.
        const bool uploaded = prompter.messages.value(prompter.messages.size() - 1) == "上传成功！";
        if (!uploaded && verb == "uploaded")
            return "the upload failed: " + prompter.messages.join(" | ");
        return Expect(uploaded ? ReadBytes(Remote(name)) == Content(content)
                               : !QFile::exists(Remote(name)),
                      name + " is not what the message says");
    }
    if (verb == "tls-authority") {
        dlg.SetTlsAuthority(Certificates().Authority());
        return {};
    }
    if (verb == "trust-answer") {
        prompter.trustAnswers << (argument == "yes");
        return {};
    }
    if (verb == "questions")
        return Compare({QString::number(prompter.certificateQuestions.size())}, {argument});
    if (verb == "question-has") {
        for (const QString& part : List(argument)) {
            if (!prompter.certificateQuestions.value(prompter.certificateQuestions.size() - 1)
                     .contains(part))
                return part + " is not in the question";
        }
        return {};
    }
    if (verb == "encrypted-logins") {
        // The server's logs: every data connection resumed the control connection's session.
        const bool implicit = m_server->Options().tls == TlsOffer::Implicit;
        return Expect(EncryptedLogins(Commands(), implicit) &&
                          m_server->ResumedTlsDataConnections() >= argument.toInt() &&
                          m_server->NewTlsDataConnections() == 0,
                      "not encrypted as it should be: " + Commands().join(" | "));
    }
    if (verb == "answer-trust-box") {
        // The real question box, answered by "enter", "escape", "close" or "trust".
        AnswerNextModal([answer = name](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                if (answer == "trust")
                    box->buttons().constFirst()->click();
                else if (answer == "close")
                    box->close();
                else
                    QTest::keyClick(box, answer == "enter" ? Qt::Key_Return : Qt::Key_Escape);
            }
        });
        QtPrompter real;
        const bool trusted = real.AskToTrustCertificate(&dlg, QStringLiteral("?"));
        return Compare({trusted ? "trusted" : "not trusted"}, {content});
    }
    if (verb == "on-progress") {
        m_progress = WatchNextProgress(argument, dlg);
        return {};
    }
    if (verb == "close-window-soon") {
        // As the close box does, and the desktop at logout; or Escape.
        QTimer::singleShot(200, &dlg, [this, argument] {
            m_progress->sinceAction.start();
            argument == "escape" ? QTest::keyClick(&m_window.dlg, Qt::Key_Escape)
                                 : void(m_window.dlg.close());
        });
        return {};
    }
    if (verb == "progress")
        return Expect(m_progress->shown == (argument == "shown"),
                      "progress window not " + argument);
    if (verb == "progress-rose")
        return Expect(m_progress->barValues.size() == 2 &&
                          m_progress->barValues[1] > m_progress->barValues[0],
                      "the bar did not rise: " + m_progress->figures.join(" | "));
    if (verb == "figures-moved")
        return Expect(m_progress->figures.size() == 2 &&
                          m_progress->figures[1] != m_progress->figures[0],
                      "the figures did not move: " + m_progress->figures.join(" | "));
    if (verb == "figures-have" || verb == "first-figures-have") {
        const QString figures = verb == "figures-have"
                                    ? m_progress->figures.value(m_progress->figures.size() - 1)
                                    : m_progress->figures.value(0);
        for (const QString& part : List(argument)) {
            if (!figures.contains(part))
                return part + " is not in " + figures;
        }
        return {};
    }
    if (verb == "encryption")
        return Compare({m_progress->encryption}, {argument});
    if (verb == "ended-within")
        return Expect(
            m_progress->sinceAction.isValid() &&
                m_progress->sinceAction.elapsed() <= argument.toDouble() * 1000,
            QStringLiteral("ended %1 ms after the action").arg(m_progress->sinceAction.elapsed()));
    if (verb == "kept-painting")
        return Expect(m_progress->postedDuring == 1 && m_progress->paintsDuring > 0,
                      "the window stopped handling events");
    if (verb == "wait") {
        QTest::qWait(static_cast<int>(argument.toDouble() * 1000));
        return {};
    }
    if (verb == "closed" && argument == "no")
        return Expect(dlg.isVisible(), "the window is closed");
    if (verb == "closed")
        return Expect(!dlg.isVisible() &&
                          dlg.result() ==
                              (argument == "accepted" ? QDialog::Accepted : QDialog::Rejected),
                      "the window is not closed " + argument);
    return "unknown verb " + verb;
}

class ScenariosTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void play_data();
    void play();

private:
    QString m_file;
    std::vector<Line> m_fixture;
    std::vector<ScenarioText> m_scenarios;
    std::unique_ptr<TestServer> m_server;
};

void ScenariosTest::initTestCase() {
    m_file = QStringLiteral(TOLMI_SOURCE_DIR "/tests/scenarios/%1.txt")
                 .arg(qEnvironmentVariable("TOLMI_SCENARIOS"));
    QFile file(m_file);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable("cannot read " + m_file));
    int number = 0;
    std::vector<ScenarioText> current;
    bool seenTitle = false;
    QString title;
    bool skipped = false;
    auto flush = [&] {
        m_scenarios.insert(m_scenarios.end(), current.begin(), current.end());
        current.clear();
    };
    for (const QString& raw : QString::fromUtf8(file.readAll()).split('\n')) {
        ++number;
        QString text = raw.trimmed();
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        if (text.startsWith("== ")) {
            flush();
            seenTitle = true;
            title = text.mid(3);
            skipped = !RunsOn(TakeKinds(title, true));
            if (!skipped)
                current.push_back({title, QString(), {}});
        } else if (text.startsWith("each ") && !skipped) {
            // Rows may take several lines; the first replaces the scenario itself.
            if (current.size() == 1 && current.front().row.isEmpty())
                current.clear();
            for (const QString& row : text.mid(5).split(" ;; "))
                current.push_back({title + " / " + row, row.trimmed(), {}});
        } else if (!seenTitle) {
            m_fixture.push_back({number, text});
        } else {
            for (ScenarioText& scenario : current)
                scenario.steps.push_back({number, text});
        }
    }
    flush();

    m_server = std::make_unique<TestServer>(TestServerOptions{TestServer::KindFromEnvironment()});
    QString error;
    QVERIFY2(m_server->Start(error), qPrintable(error));
}

void ScenariosTest::play_data() {
    QTest::addColumn<int>("index");
    for (size_t i = 0; i < m_scenarios.size(); ++i)
        QTest::newRow(qPrintable(m_scenarios[i].title)) << static_cast<int>(i);
}

void ScenariosTest::play() {
    QFETCH(int, index);
    const ScenarioText& text = m_scenarios[static_cast<size_t>(index)];
    QTemporaryDir local;
    Scenario scenario(*m_server, local);
    std::vector<Line> steps = m_fixture;
    steps.insert(steps.end(), text.steps.begin(), text.steps.end());
    const QStringList parts = text.row.split(" = ");
    for (Line step : steps) {
        step.text.replace("$row", text.row);
        for (qsizetype i = parts.size(); i > 0; --i)
            step.text.replace("$" + QString::number(i), parts[i - 1].trimmed());
        if (!RunsOn(TakeKinds(step.text, false)))
            continue;
        step.text = scenario.Substitute(step.text);
        const QString verb = step.text.section(' ', 0, 0);
        const QString error = scenario.Step(verb, step.text.section(' ', 1).trimmed());
        QVERIFY2(error.isEmpty(), qPrintable(QStringLiteral("%1:%2: %3: %4")
                                                 .arg(m_file)
                                                 .arg(step.number)
                                                 .arg(step.text, error)));
    }
}

QTEST_MAIN(ScenariosTest)
#include "tst_scenarios.moc"
