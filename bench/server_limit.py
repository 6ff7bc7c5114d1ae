#!/usr/bin/python3
"""The fastest a download from one FTP server can be: its data connection, in active mode, read
straight into a file through one buffer of the client's size, written in the client's pieces.
Prints the seconds from RETR to the final reply."""
import ftplib
import os
import sys
import time

host, port, user, password, remote, local = sys.argv[1:7]
buffer_bytes, write_bytes = int(sys.argv[7]), int(sys.argv[8])
ftp = ftplib.FTP()
ftp.connect(host, int(port))
ftp.login(user, password)
ftp.voidcmd("TYPE I")
ftp.set_pasv(False)
out = os.open(local, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
buffer = bytearray(buffer_bytes)
view = memoryview(buffer)
start = time.monotonic()
with ftp.transfercmd("RETR " + remote) as data:
    while received := data.recv_into(buffer):
        written = 0
        while written < received:
            written += os.write(out, view[written:min(received, written + write_bytes)])
os.close(out)
ftp.voidresp()
print("%.6f" % (time.monotonic() - start))
ftp.quit()
