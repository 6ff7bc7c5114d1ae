#pragma once

// Large buffers keep a fast loopback or LAN transfer from being bound by call overhead. The
// benchmark sizes its limit measurements by the same figure.
constexpr long kTransferBufferBytes = 512 * 1024;
