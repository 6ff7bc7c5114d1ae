#pragma once

// How long a connection waits before it gives up. There is deliberately no limit on a whole
// transfer: only on a server that stops answering or a transfer that stops moving.
struct FtpTimeouts {
    long connectMs = 30000;  // to open the control connection
    long responseMs = 30000; // for any reply of the server
    long stallMs = 30000;    // a data transfer that moves no byte this long is broken
    long acceptMs = 10000;   // for the server to open an active data connection
};
