"""Lists a directory with Python's own ftplib, so window tests never grade the client with
itself. Arguments: host port user password [hex-encoded path segment ...]. Prints one line per
entry in the server's order: "d" or "f", a space, and the raw name in hex."""
import ftplib
import sys

host, port, user, password, *segments = sys.argv[1:]
ftp = ftplib.FTP()
ftp.encoding = "latin-1"  # names pass through byte for byte
ftp.connect(host, int(port), timeout=10)
ftp.login(user, password)
for segment in segments:
    ftp.cwd(bytes.fromhex(segment).decode("latin-1"))
for name, facts in ftp.mlsd():
    kind = "d" if facts.get("type", "").lower() in ("dir", "cdir", "pdir") else "f"
    print(kind, name.encode("latin-1").hex())
ftp.quit()
