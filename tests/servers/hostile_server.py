#!/usr/bin/python3
"""A scripted misbehaving FTP server: plays one named scenario on 127.0.0.1 at a free port
(printed on stdout) for every client, and logs every command it receives."""
import argparse
import os
import socket
import ssl
import threading
import time

CONTENT = b"content of a file\n"
NO_ACTIVE = {"EPRT": ["500 No"], "PORT": ["500 No"]}
NO_MLSD = {"MLSD": ["500 No"]}
# What a scenario does instead of the normal reply, by the start of the command line ("*": any
# command; "greeting"; "TLS": the handshake), on connection N only with "@N", on later ones
# with "@+". Actions: a reply, "hang", "close", "sleep:S", "go" (the normal reply follows).
# "data" says how transfers go wrong.
SCENARIOS = {
    "good": {}, "well_behaved": {},
    "no_greeting": {"greeting": ["hang"]},
    "no_user_reply": {"USER": ["hang"]},
    "all_5xx": {"*": ["500 No"]},
    "close_mid_login": {"PASS": ["close"]},
    "garbage_replies": {"greeting": ["999 out of range"], "*": ["garbage line", "12"]},
    "endless_multiline": {"greeting": ["220-still greeting", "sleep:0.01"] * 3000},
    "close_mid_listing": {"data": "cut listing"},
    "close_mid_transfer": {"data": "cut file"},
    "no_data_connection": {"data": "none"},
    "stall_data": {"data": "stall"},
    "no_final_reply": {"data": "no final reply"},
    "late_425": {"data": "refuse active"},
    "late_425_no_mlsd": {"data": "refuse active", **NO_MLSD},
    "pasv_elsewhere": {"EPSV": ["500 Use PASV"], **NO_ACTIVE},
    # Most of the one-second limit the tests set for a reply.
    "slow_passive": {"EPSV": ["500 Use PASV"], "PASV": ["sleep:0.7", "go"], **NO_ACTIVE},
    "no_quit_reply": {"QUIT": ["hang"]},
    "no_mlsd_no_quit_reply": {"QUIT": ["hang"], **NO_MLSD},
    "no_mlsd": NO_MLSD,
    "lying_size": {"SIZE": ["213 1000000"]},
    "close_after_login": {"PWD@0": ['257 "/"', "sleep:0.2", "close"]},
    "close_on_stor": {"STOR@0": ["close"]},
    "wrong_password_first": {"PASS@0": ["530 Login incorrect"]},
    "reset_after_handshake": {"TLS": ["close"]},
    "data_from_elsewhere": {"data": "intruder first"},
    "later_connections_silent": {"greeting@+": ["hang"]},
}
REPLIES = {b"USER": "331 Password", b"PASS": "230 Logged in", b"TYPE": "200 Ok", b"PWD": '257 "/"',
           b"PBSZ": "200 Ok", b"CWD": "250 Ok"}
for code in (425, 426, 452, 550, 552, 553):
    SCENARIOS["stor_temp_%d" % code] = {"STOR .tolmi-": ["%d Not stored" % code]}


def listing_lines(kind):
    if kind == "names":
        return [b"type=file; evil\rDELE a.txt", b"type=file; nul\0inside", b"type=file; /",
                b"type=dir; ..", b"type=dir; docs", b"type=file; a.txt"]
    if kind == "long_line":
        return [b"type=file; before", b"type=file; " + b"x" * (10 << 20), b"type=file; after"]
    if kind == "many":
        return [b"type=file; entry-%06d" % i for i in range(200000)]
    if kind.startswith("file:"):
        with open(kind[5:], "rb") as f:
            return f.read().splitlines()
    return [b"type=dir; docs", b"type=file;size=18; a.txt", b"type=file;size=18; b.txt"]


def tls_context(args):
    """A certificate, or anonymous suites; one version only with --tls-version."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if args.tls_version:
        context.minimum_version = context.maximum_version = getattr(ssl.TLSVersion, args.tls_version)
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
    if args.tls_cert:
        context.load_cert_chain(args.tls_cert)
    else:
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.set_ciphers("aNULL:@SECLEVEL=0")
    return context


class Session:
    def __init__(self, conn, args, number):
        self.conn, self.args, self.number = conn, args, number
        self.file = conn.makefile("rb")
        self.rules = SCENARIOS[args.scenario]
        self.data = self.rules.get("data", "")
        self.tls = self.protect_data = self.active = self.passive = None
        self.size = len(CONTENT)  # what SIZE says: the last upload's once there is one

    def log(self, line):  # where TLS is offered, commands that came in clear say so
        with open(self.args.log, "ab") as f:
            f.write((b"clear: " if self.tls is None and self.args.tls else b"") + line + b"\n")

    def send(self, text):
        self.conn.sendall(text.encode() + b"\r\n")

    def misbehave(self, line):
        """Plays the scenario's actions for `line`; False when the normal reply follows."""
        for key, actions in self.rules.items():
            key, _, on = key.partition("@")
            if (on == "+" and self.number == 0) or (on.isdigit() and self.number != int(on)):
                continue
            if key == "*" and line not in (b"greeting", b"TLS") or line.startswith(key.encode()):
                for action in actions:
                    if action == "go":
                        return False
                    if action in ("hang", "close"):
                        time.sleep(self.args.hang if action == "hang" else 0)
                        raise ConnectionError
                    if action.startswith("sleep:"):
                        time.sleep(float(action[6:]))
                    else:
                        self.send(action)
                return True
        return False

    def start_tls(self):
        if self.number >= self.args.tls_connections:
            return self.send("500 No")
        self.send("234 Ok")
        self.tls = tls_context(self.args)
        self.conn = self.tls.wrap_socket(self.conn, server_side=True)
        self.file = self.conn.makefile("rb")
        self.misbehave(b"TLS")

    def open_data(self):
        if self.passive:
            self.passive.settimeout(10)
            data = self.passive.accept()[0]
        else:
            if self.data == "intruder first":  # another host reaches the announced port first
                socket.create_connection(self.active, 10, ("127.0.0.2", 0)).sendall(b"type=file; x\r\n")
            data = socket.create_connection(self.active, timeout=10)
        return self.tls.wrap_socket(data, server_side=True) if self.protect_data else data

    def transfer(self, payload=None, cut="cut file"):
        if self.data == "refuse active" and self.active:
            return self.send("425 No data connection")
        self.send("150 Data")
        if self.data == "none":
            time.sleep(self.args.hang)
            raise ConnectionError
        data = self.open_data()
        if self.data in (cut, "stall"):
            data.sendall(payload[: len(payload) // 3]) if payload else data.recv(1000)
            time.sleep(self.args.hang if self.data == "stall" else 0)
            data.close()
            raise ConnectionError
        if payload is None:
            self.size = 0
            while chunk := data.recv(65536):
                self.size += len(chunk)
        else:
            data.sendall(payload)
        try:
            data = data.unwrap() if self.protect_data else data
        except (OSError, ValueError):
            pass
        data.close()
        if self.data == "no final reply":
            time.sleep(self.args.hang)
        self.send("226 Done")

    def listing(self, command):
        lines = listing_lines(self.args.listing)
        if command == b"LIST":
            lines = [(b"d" if b"dir" in line.split(b";")[0] else b"-") + b"rw-r--r-- 1 u g %8d "
                     b"Dec 06 18:10 " % len(CONTENT) + line.partition(b"; ")[2] for line in lines]
        self.transfer(b"".join(line + b"\r\n" for line in lines), "cut listing")

    def run(self):
        if not self.misbehave(b"greeting"):
            self.send("220 Ready")
        while raw := self.file.readline():
            line = raw.rstrip(b"\r\n")
            self.log(line)
            if line.upper().startswith(b"AUTH") and self.args.tls:
                self.start_tls()
            elif not self.misbehave(line):
                command, _, argument = line.partition(b" ")
                self.reply(command.upper(), argument)

    def reply(self, command, argument):
        if command == b"EPRT":
            parts = argument.decode().split(argument.decode()[0])
            self.active, self.passive = (parts[2], int(parts[3])), None
            self.send("200 Ok")
        elif command in (b"EPSV", b"PASV"):
            self.passive, self.active = socket.create_server(("127.0.0.1", 0)), None
            port = self.passive.getsockname()[1]
            # PASV names another address: the client must use the server's own instead.
            self.send("229 (|||%d|)" % port if command == b"EPSV" else "227 (127,0,0,2,%d,%d)" % divmod(port, 256))
        elif command in (b"MLSD", b"LIST", b"NLST"):
            self.listing(command)
        elif command == b"PROT":
            self.protect_data = argument == b"P"
            self.send("200 Ok")
        elif command == b"QUIT":
            self.send("221 Bye")
            raise ConnectionError
        elif command in (b"RETR", b"STOR"):
            self.transfer(CONTENT if command == b"RETR" else None)
        elif command == b"SIZE":
            self.send("213 %d" % self.size)
        else:
            self.send(REPLIES.get(command, "502 Not implemented"))


def serve(conn, args, number):
    try:
        Session(conn, args, number).run()
    except (OSError, ConnectionError, ValueError):
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=SCENARIOS)
    parser.add_argument("--listing", default="good")
    parser.add_argument("--log", required=True)
    parser.add_argument("--hang", type=float, default=30.0)
    parser.add_argument("--tls", action="store_true", help="answer AUTH TLS")
    parser.add_argument("--tls-cert", help="PEM with certificate and key")
    parser.add_argument("--tls-connections", type=int, default=1 << 30, help="AUTH works on as many first")
    parser.add_argument("--tls-version", help="as ssl.TLSVersion names it")
    args = parser.parse_args()
    listener = socket.create_server(("127.0.0.1", 0), backlog=16)
    print("PORT", listener.getsockname()[1], flush=True)
    for number in range(1 << 30):
        threading.Thread(target=serve, args=(listener.accept()[0], args, number), daemon=True).start()


if __name__ == "__main__":
    main()
