#pragma once

#include "listing/ListingParser.h"

// One parser per family of LIST formats. Each reads one line and gives nothing when the line
// is not of its family.
namespace ListingFamilies {

std::optional<RemoteEntry> Unix(QByteArrayView line);    // "ls -l" and its relatives
std::optional<RemoteEntry> NetWare(QByteArrayView line); // "d [R----F--] owner size date name"
std::optional<RemoteEntry> Dos(QByteArrayView line);     // DOS and IIS
std::optional<RemoteEntry> Os2(QByteArrayView line);
std::optional<RemoteEntry> Eplf(QByteArrayView line);
std::optional<RemoteEntry> Facts(QByteArrayView line); // MLSD lines in a LIST reply
std::optional<RemoteEntry> VShell(QByteArrayView line);
std::optional<RemoteEntry> Vms(QByteArrayView line);
// "        [SYSTEM]  (RWE,RWE,RE,E)": the owner and protection of the entry above.
bool IsVmsContinuation(QByteArrayView line);
std::optional<RemoteEntry> Os9(QByteArrayView line);
std::optional<RemoteEntry> As400(QByteArrayView line);
std::optional<RemoteEntry> MvsDataset(QByteArrayView line);
std::optional<RemoteEntry> MvsMember(QByteArrayView line);
std::optional<RemoteEntry> Zvm(QByteArrayView line);
std::optional<RemoteEntry> NonStop(QByteArrayView line);
std::optional<RemoteEntry> Nortel(QByteArrayView line);

// An entry of the given name, or nothing when the name is empty.
std::optional<RemoteEntry> Entry(QByteArrayView name, bool isDirectory, qint64 size);

} // namespace ListingFamilies
