#!/usr/bin/python3
"""A scripted misbehaving FTP server: plays one named scenario on 127.0.0.1 at a free port
(printed on stdout) for every client, and logs every command it receives."""
import argparse
import codecs
import os
import socket
import ssl
import threading
import time

CONTENT = b"content of a file\n"
GOOD_LISTING = [b"type=dir; docs", b"type=file;size=18; a.txt", b"type=file;size=18; b.txt"]
# Most of the one-second connect limit the tests set.
SLOW_REPLY_SECONDS = 0.7


def hostile_listing(kind):
    if kind == "names":
        return [b"type=file; evil\rDELE a.txt", b"type=file; nul\0inside", b"type=file; /",
                b"type=dir; ..", b"type=file; ", b"type=file; " + b"n" * 4096,
                b"type=dir; docs", b"type=file; a.txt"]
    if kind == "long_line":
        return [b"type=file; before", b"type=file; " + b"x" * (10 * 1024 * 1024),
                b"type=file; after"]
    if kind.startswith("file:"):
        with open(kind[len("file:"):], "rb") as f:
            return f.read().splitlines()
    if kind == "many":
        return [b"type=file; entry-%06d" % i for i in range(200000)]
    return GOOD_LISTING


def as_list_line(mlsd_line):
    facts, _, name = mlsd_line.partition(b"; ")
    kind = b"d" if b"type=dir" in facts else b"-"
    return kind + b"rw-r--r--   1 u g %8d Dec 06 18:10 " % len(CONTENT) + name


def served_listings(kind):
    """The lines per (directory, command) that tests/data/served_listings.tsv gives `kind`."""
    path = os.path.join(os.path.dirname(__file__), "..", "data", "served_listings.tsv")
    served = {}
    with open(path, "rb") as rows:
        for row in rows:
            cells = row.rstrip(b"\n").split(b"\t")
            if row.startswith(b"#") or cells[0].decode() != kind:
                continue
            directory, command, text = (codecs.escape_decode(c)[0] for c in cells[1:])
            served.setdefault((directory, command), []).append(text)
    return served


def tls_context(args):
    """The server side of TLS as --tls-* ask: a certificate, or anonymous suites; a top version."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if args.tls_version:
        version = getattr(ssl.TLSVersion, args.tls_version)
        context.minimum_version = context.maximum_version = version
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
    if args.tls_cert:
        context.load_cert_chain(args.tls_cert)
    else:
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.set_ciphers("aNULL:@SECLEVEL=0")
    return context


class Session:
    def __init__(self, conn, args, number):
        self.conn = conn
        self.args = args
        self.number = number      # 0 for the first connection of the run
        self.tls = None           # the TLS context once AUTH succeeded
        self.protect_data = False
        self.scenario = args.scenario
        self.file = conn.makefile("rb")
        self.data_target = None   # (host, port) for active mode
        self.passive = None       # listening socket for passive mode
        self.served = served_listings(args.listing)
        self.cwd = b"/"
        self.stored = None        # bytes of the last upload

    def log(self, line):
        # Where TLS is offered, commands that came in clear say so.
        if self.tls is None and self.args.tls:
            line = b"clear: " + line
        with open(self.args.log, "ab") as f:
            f.write(line + b"\n")

    def start_tls(self):
        """AUTH: TLS on the first --tls-connections connections, refused on later ones."""
        if self.number >= self.args.tls_connections:
            self.send("500 AUTH not understood")
            return
        self.send("234 AUTH TLS successful")
        self.tls = tls_context(self.args)
        self.conn = self.tls.wrap_socket(self.conn, server_side=True)
        self.file = self.conn.makefile("rb")
        if self.scenario == "reset_after_handshake":
            self.conn.close()
            raise ConnectionError

    def send(self, text):
        self.conn.sendall(text if isinstance(text, bytes) else text.encode() + b"\r\n")

    def hang(self):
        time.sleep(self.args.hang)

    def open_data(self):
        data = self.connect_data()
        if data is not None and self.protect_data:
            data.settimeout(10)
            data = self.tls.wrap_socket(data, server_side=True)
        return data

    def connect_data(self):
        if self.scenario == "no_data_connection":
            return None
        if self.passive is not None:
            self.passive.settimeout(10)
            data, _ = self.passive.accept()
            return data
        if self.data_target is not None:
            if self.scenario == "data_from_elsewhere":
                # Someone else on the network reaches the announced port first.
                intruder = socket.create_connection(self.data_target, 10, ("127.0.0.2", 0))
                intruder.sendall(b"type=file; planted\r\n" * 3)
                intruder.close()
            return socket.create_connection(self.data_target, timeout=10)
        return None

    def close_data(self, data):
        if self.protect_data:
            try:
                data = data.unwrap()
            except (OSError, ValueError):
                pass
        data.close()

    def transfer(self, payload=None, is_listing=False):
        """Sends `payload` on a data connection, or takes an upload when there is none."""
        self.send("150 Opening data connection")
        data = self.open_data()
        if data is None:
            self.hang()
            return
        if self.scenario == "stall_data" or (
                self.scenario == "close_mid_transfer" and not is_listing):
            if payload is None:
                data.recv(1000)
            else:
                data.sendall(payload[: max(1, len(payload) // 3)])
            if self.scenario == "stall_data":
                self.hang()
            data.close()
            self.conn.close()
            raise ConnectionError
        if payload is None:
            self.stored = 0
            while chunk := data.recv(65536):
                self.stored += len(chunk)
        else:
            data.sendall(payload)
        self.close_data(data)
        if self.scenario == "no_final_reply":
            self.hang()
            return
        self.send("226 Transfer complete")

    def served_command(self, command, argument):
        """Plays a listing kind from the data file: directories, listings and files."""
        if command == b"CWD":
            path = argument if argument.startswith(b"/") else self.cwd.rstrip(b"/") + b"/" + argument
            path = b"/" + path.strip(b"/")
            known = any(directory == path for directory, _ in self.served)
            self.cwd = path if known else self.cwd
            self.send("250 Ok" if known else "550 No such directory")
        elif command in (b"LIST", b"MLSD", b"NLST"):
            if not any(c == command for _, c in self.served) and command != b"LIST":
                self.send("500 Unknown command" if command == b"MLSD" else "550 No names")
                return True
            lines = self.served.get((self.cwd, command), [])
            self.transfer(b"".join(line + b"\r\n" for line in lines), is_listing=True)
        elif command == b"RETR":
            # Only a name exactly as listed is a file here.
            listed = [line for c in (b"LIST", b"MLSD", b"NLST")
                      for line in self.served.get((self.cwd, c), [])]
            if any(line == argument or line.endswith((b" " + argument, b"/" + argument))
                   or b" " + argument + b" -> " in line for line in listed):
                self.transfer(CONTENT)
            else:
                self.send("550 No such file")
        else:
            return False
        return True

    def listing(self, command):
        lines = hostile_listing(self.args.listing)
        if command == b"LIST":
            lines = [as_list_line(line) for line in lines]
        if self.scenario == "close_mid_listing":
            self.send("150 Here comes the listing")
            data = self.open_data()
            data.sendall(b"\r\n".join(lines[:2]) + b"\r\n" + lines[2][:5])
            data.close()
            self.conn.close()
            raise ConnectionError
        self.transfer(b"".join(line + b"\r\n" for line in lines), is_listing=True)

    def run(self):
        s = self.scenario
        if s == "no_greeting" or (s == "later_connections_silent" and self.number > 0):
            self.hang()
            return
        if s == "endless_multiline":
            deadline = time.time() + self.args.hang
            while time.time() < deadline:
                self.send("220-still greeting")
                time.sleep(0.01)
            return
        if s == "garbage_replies":
            self.send(b"999 out of range\r\n")
        else:
            self.send("220 hostile server ready")
        while raw := self.file.readline():
            line = raw.rstrip(b"\r\n")
            self.log(line)
            command, _, argument = line.partition(b" ")
            command = command.upper()
            if s == "no_user_reply" and command == b"USER":
                self.hang()
                return
            if s == "close_mid_login" and command == b"PASS":
                self.conn.close()
                return
            if command == b"AUTH" and self.args.tls:
                self.start_tls()
                continue
            if s == "all_5xx":
                self.send("500 No")
                continue
            if s == "garbage_replies":
                self.send(b"garbage line\r\n12\r\n")
                continue
            self.handle(command, argument)

    def handle(self, command, argument):
        if self.served and self.served_command(command, argument):
            return
        s = self.scenario
        first = self.number == 0
        if s == "slow_passive" and command in (b"EPSV", b"PASV"):
            time.sleep(SLOW_REPLY_SECONDS)
        if command == b"PBSZ" and self.tls is not None:
            self.send("200 PBSZ=0")
        elif command == b"PROT" and self.tls is not None:
            self.protect_data = argument == b"P"
            self.send("200 Protection set")
        elif s in ("late_425_no_mlsd", "no_mlsd_no_quit_reply", "no_mlsd") and command == b"MLSD":
            self.send("500 Unknown command")
        elif s == "wrong_password_first" and first and command == b"PASS":
            self.send("530 Login incorrect")
        elif (s == "close_after_login" and first and command == b"PWD") or (
                s == "close_on_stor" and first and command == b"STOR"):
            # The line drops, as it may while a message box is open.
            if command == b"PWD":
                self.send('257 "/" is the current directory')
                time.sleep(0.2)
            self.conn.close()
            raise ConnectionError
        elif s.startswith("late_425") and self.data_target is not None and command in (
                b"LIST", b"MLSD", b"RETR", b"STOR"):
            # Took PORT, but cannot connect back.
            self.send("425 Cannot open data connection")
        elif s.startswith("stor_temp_") and command == b"STOR" and argument.startswith(b".tolmi-"):
            self.send(s[len("stor_temp_"):] + " Not stored")
        elif s.endswith("no_quit_reply") and command == b"QUIT":
            self.hang()
        elif command == b"USER":
            self.send("331 Password required")
        elif command == b"PASS":
            self.send("230 Logged in")
        elif command == b"PWD":
            self.send('257 "/" is the current directory')
        elif command == b"CWD":
            self.send("250 Ok" if b"\r" not in argument else "550 No")
        elif command == b"TYPE":
            self.send("200 Type set")
        elif command in (b"EPRT", b"PORT") and s not in ("pasv_elsewhere", "slow_passive"):
            if command == b"EPRT":
                parts = argument.decode().split(argument.decode()[0])
                self.data_target = (parts[2], int(parts[3]))
            else:
                n = argument.decode().split(",")
                self.data_target = (".".join(n[:4]), int(n[4]) * 256 + int(n[5]))
            self.passive = None
            self.send("200 Ok")
        elif command in (b"EPRT", b"PORT"):
            self.send("500 Active mode refused")
        elif command == b"EPSV" and s in ("pasv_elsewhere", "slow_passive"):
            self.send("500 Use PASV")
        elif command in (b"EPSV", b"PASV"):
            self.passive = socket.socket()
            self.passive.bind(("127.0.0.1", 0))
            self.passive.listen(1)
            port = self.passive.getsockname()[1]
            self.data_target = None
            if command == b"EPSV":
                self.send("229 Entering Extended Passive Mode (|||%d|)" % port)
            else:
                # Points at another address: the client must use the server's own instead.
                self.send("227 Entering Passive Mode (127,0,0,2,%d,%d)" % (port // 256, port % 256))
        elif command == b"SIZE":
            self.send("213 %d" % (len(CONTENT) if self.stored is None else self.stored))
        elif command in (b"MLSD", b"LIST"):
            self.listing(command)
        elif command == b"RETR":
            self.transfer(CONTENT)
        elif command == b"STOR":
            self.transfer()
        elif command == b"QUIT":
            self.send("221 Bye")
            self.conn.close()
            raise ConnectionError
        else:
            self.send("502 Not implemented")


def serve(conn, args, number):
    try:
        Session(conn, args, number).run()
    except (OSError, ConnectionError, ValueError, IndexError):
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario")
    parser.add_argument("--listing", default="good")
    parser.add_argument("--log", required=True)
    parser.add_argument("--hang", type=float, default=30.0)
    parser.add_argument("--tls", action="store_true", help="answer AUTH TLS")
    parser.add_argument("--tls-cert", help="PEM with certificate and key; none: anonymous suites")
    parser.add_argument("--tls-connections", type=int, default=1 << 30,
                        help="AUTH succeeds on this many first connections only")
    parser.add_argument("--tls-version", help="the only TLS version, as ssl.TLSVersion names it")
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT", listener.getsockname()[1], flush=True)
    number = 0
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args, number), daemon=True).start()
        number += 1


if __name__ == "__main__":
    main()
