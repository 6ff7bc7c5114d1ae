#pragma once

#include <QByteArray>
#include <QtGlobal>

// "host:port" in the one form every spelling of the same server shares, so that what this run
// remembers about a server (TLS, trust, refused commands) holds however the host was typed: an
// address as the system writes it back, a name lower-cased, without a trailing dot, in its
// ASCII (ACE) form. IPv6 addresses are in brackets.
QByteArray ServerKey(const QByteArray& host, quint16 port);
