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
try:
    entries = [(name, facts.get("type", "").lower() in ("dir", "cdir", "pdir"))
               for name, facts in ftp.mlsd()]
except ftplib.error_perm:
    # No MLSD: the test servers' LIST lines have the name in the ninth field.
    lines = []
    ftp.retrlines("LIST", lines.append)
    entries = [(line.split(None, 8)[8], line.startswith("d")) for line in lines]
for name, is_directory in entries:
    print("d" if is_directory else "f", name.encode("latin-1").hex())
ftp.quit()
