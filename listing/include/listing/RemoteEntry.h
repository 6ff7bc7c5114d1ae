#pragma once

#include <QByteArray>

// One entry of a remote directory: its raw name and whether it is a directory.
struct RemoteEntry {
    QByteArray name;
    bool isDirectory = false;
    qint64 size = -1; // -1 when the listing does not say
    // False where the server does not say what the entry is (a link, a bare name): it is
    // shown as a file and may still turn out to be a directory.
    bool kindKnown = true;
};
