#include "support/SshServer.h"

#include <QTest>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The accounts of runs that ended without removing theirs go first.
constexpr char kSetUp[] = R"(set -e; cd "$0"
for u in $(grep -o '^tolmi-sftp-[0-9]*' /etc/passwd); do
  [ -d /proc/${u#tolmi-sftp-} ] || userdel -f -r $u 2>/dev/null || true; done
mkdir -p home /run/sshd; chmod 711 .; ssh-keygen -q -t ed25519 -N '' -f host_key
useradd -M -d "$PWD/home" -s /bin/sh "$1"; chown "$1" home; echo "$1:pw" | chpasswd
cat >config <<END
ListenAddress 127.0.0.1
Port $2
HostKey $PWD/host_key
PidFile $PWD/pid
UsePAM no
StrictModes no
LogLevel VERBOSE
Subsystem sftp internal-sftp
END)";

} // namespace

QString SshServer::Start() {
    m_port = FreeLoopbackPort();
    m_user = "tolmi-sftp-" + QString::number(::getpid());
    if (Run("sh", {"-c", kSetUp, m_dir.path(), m_user, QString::number(m_port)}).isEmpty())
        return "the account or sshd's configuration could not be made";
    // sshd ends with the test, even one that crashed.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start("/usr/sbin/sshd",
                    {"-D", "-f", m_dir.filePath("config"), "-E", m_dir.filePath("log")});
    const bool listening = QTest::qWaitFor([&] { return Log().contains("Server listening"); });
    return listening ? QString() : "sshd did not start: " + Log();
}

SshServer::~SshServer() {
    Stop();
    Run("userdel", {"-f", "-r", m_user});
}

int SshServer::SessionPid() const {
    const QStringList sessions = LogLines("log").filter("User child is on pid ");
    return sessions.isEmpty() ? 0 : sessions.last().section(' ', -1).toInt();
}
