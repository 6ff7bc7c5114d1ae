#pragma once

// Large buffers keep a fast loopback or LAN transfer from being bound by call overhead. The
// benchmark sizes its limit measurements by the same figure.
constexpr long kTransferBufferBytes = 512 * 1024;

// Writes to a file stay smaller. The page cache takes memory in blocks the size of the write,
// and on a virtual machine that hands free memory back to its host, large blocks are the slow
// ones to get back: 1 GiB in 512 KiB writes took 0.2 to 1.8 s there, in 64 KiB writes 0.3 to
// 0.6 s.
constexpr long kFileWriteBytes = 64 * 1024;
