#include "ftp/CInternetSession.h"

#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CurlEasy.h"
#include "ftp/RemoteName.h"
#include "ftp/ServerAddress.h"

#include <curl/curl.h>

CInternetSession::CInternetSession(FtpTimeouts timeouts, TransferMonitor* monitor)
    : m_timeouts(timeouts), m_monitor(monitor) {
    CurlEasy::InitializeLibrary();
}

std::unique_ptr<CFtpConnection> CInternetSession::GetFtpConnection(const QString& server,
                                                                   const QString& user,
                                                                   const QString& password,
                                                                   quint16 port) const {
    if (!RemoteName::IsSendable(server) || !RemoteName::IsSendable(user) ||
        !RemoteName::IsSendable(password))
        throw CInternetException(CInternetException::kRefusedInput);
    const auto address = ServerAddress::Parse(server, port);
    if (!address)
        throw CInternetException(CURLE_COULDNT_RESOLVE_HOST);

    auto easy = std::make_unique<CurlEasy>(address->BaseUrl(), user.toUtf8(), password.toUtf8(),
                                           m_timeouts, m_monitor);
    if (!easy->IsValid())
        throw CInternetException(CURLE_FAILED_INIT);
    const CURLcode code = easy->Login();
    if (code != CURLE_OK)
        throw CInternetException(code);
    return std::make_unique<CFtpConnection>(std::move(easy));
}
