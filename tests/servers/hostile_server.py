#!/usr/bin/python3
"""A misbehaving FTP server on 127.0.0.1 (port printed): plays a scenario, logs each command."""
import argparse
import contextlib
import socket
import ssl
import threading
import time

CONTENT = b"content of a file\n"
HANG = 30  # seconds of silence: more than a test waits
# A scenario's actions instead of the normal reply, by the command's start ("*": any; also "greeting",
# "handshake", "done": the transfer's end), "@N" on connection N only: a reply,
# "hang", "close", "sleep:S", "go" (the normal reply follows). "data": how transfers fail. "listing":
# MLSD lines for these; LIST gives a "type=odd" one in a form no parser reads, NLST only names.
LISTING = [b"type=dir; docs", b"type=file;size=18; a.txt", b"type=file;size=18; b.txt"]
SCENARIOS = {
    "good": {}, "no_mlsd": {"MLSD": ["500 No"]},
    "no_mlsd unread": {"MLSD": ["500 No"], "listing": [b"type=file; a.txt", b"type=odd; odd name"]},
    "no_greeting": {"greeting": ["hang"]}, "no_user_reply": {"USER": ["hang"]},
    "all_5xx": {"*": ["500 No"]}, "close_mid_login": {"PASS": ["close"]},
    "garbage_replies": {"greeting": ["999 out of range"], "*": ["garbage line", "12"]},
    "endless_multiline": {"greeting": ["220-still greeting", "sleep:0.01"] * 3000},
    "close_mid_transfer": {"data": "cut"}, "stall_data": {"data": "stall"},
    "no_data_connection": {"RETR": ["150 Ok", "hang"]}, "no_final_reply": {"done": ["hang"]},
    # 150 before the transfer command, in the EPRT reply's packet.
    "early_150": {"EPRT@0": ["200 Ok\r\n150 Ok"], "RETR@0": ["hang"]},
    "late_425": {"data": "refuse active"},
    "pasv_elsewhere": {"EPSV": ["500 No"], "EPRT": ["500 No"]},  # and PASV names another host
    # Most of the tests' one-second reply limit.
    "slow_passive": {"EPSV": ["500 No"], "EPRT": ["500 No"], "PASV": ["sleep:0.7", "go"]},
    "no_quit_reply": {"QUIT": ["hang"]}, "lying_size": {"SIZE": ["213 5"]}, "short_data": {"SIZE": ["213 99"]},
    "close_after_login": {"PWD@0": ['257 "/"', "sleep:0.2", "close"]},
    "close_on_stor": {"STOR@0": ["close"]}, "reset_after_handshake": {"handshake": ["close"]},
    "wrong_password_first": {"PASS@0": ["530 Login incorrect"]},
    "data_from_elsewhere": {"data": "intruder first"}, "later_connections_silent": {"greeting@1": ["hang"]},
}
for code in (425, 426, 452, 550, 552, 553):
    SCENARIOS[f"stor_temp_{code}"] = {"STOR .tolmi-": [f"{code} Not stored"]}
REPLIES = {b"USER": "331 Ok", b"PASS": "230 Ok", b"TYPE": "200 Ok", b"PWD": '257 "/"', b"PBSZ": "200 Ok",
           b"PROT": "200 Ok", b"CWD": "250 Ok", b"QUIT": "221 Bye"}


def tls_context(certificate):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if certificate:
        context.load_cert_chain(certificate)
    else:  # anonymous suites
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.set_ciphers("aNULL:@SECLEVEL=0")
    return context


class Session:
    def __init__(self, conn, args, number):
        self.conn, self.args, self.number, self.file = conn, args, number, conn.makefile("rb")
        self.rules = SCENARIOS[args.scenario]
        self.data = self.rules.get("data")
        self.tls = self.protect_data = self.active = self.passive = None
        self.size = len(CONTENT)  # the last upload's once there is one

    def send(self, text):
        self.conn.sendall(text.encode() + b"\r\n")

    def misbehave(self, line):
        for key, actions in self.rules.items():
            key, _, on = key.partition("@")
            if on and on != str(self.number):
                continue
            if line.startswith(key.encode()) or key == "*" and line[:1].isupper():
                for action in actions:
                    if action == "go":
                        return False
                    if action in ("hang", "close"):
                        time.sleep(HANG if action == "hang" else 0)
                        raise ConnectionError
                    time.sleep(float(action[6:])) if action[:6] == "sleep:" else self.send(action)
                return True
        return False

    def start_tls(self):
        if self.number >= self.args.tls_connections:
            return self.send("500 No")
        self.send("234 Ok")
        self.tls = tls_context(self.args.tls)
        self.conn = self.tls.wrap_socket(self.conn, server_side=True)
        self.file = self.conn.makefile("rb")
        self.misbehave(b"handshake")

    def open_data(self):
        if self.passive:
            data = self.passive.accept()[0]
        else:
            if self.data == "intruder first":  # another host reaches the announced port first
                socket.create_connection(self.active, 9, ("127.0.0.2", 0)).send(b"type=file; x\n")
            data = socket.create_connection(self.active)
        context = tls_context(self.args.tls_data_cert) if self.args.tls_data_cert else self.tls
        return context.wrap_socket(data, server_side=True) if self.protect_data else data

    def transfer(self, payload=None):
        if self.data == "refuse active" and self.active:
            return self.send("425 No")
        self.send("150 Ok")
        data = self.open_data()
        if self.data in ("cut", "stall"):
            data.sendall(payload[: len(payload) // 3])
            time.sleep(HANG if self.data == "stall" else 0)
            data.close()
            raise ConnectionError
        if payload is None:
            self.size = sum(map(len, iter(lambda: data.recv(65536), b"")))
        else:
            data.sendall(payload)
        try:
            data = data.unwrap() if self.protect_data else data
        except (OSError, ValueError):
            pass
        data.close()
        if not self.misbehave(b"done"):
            self.send("226 Done")

    def listing(self, command):
        lines = b""
        for line in self.rules.get("listing", LISTING):
            facts, _, name = line.partition(b"; ")
            mode = {b"type=dir": b"d", b"type=odd": b"~~ "}.get(facts, b"-")
            listed = mode + b"rw-r--r-- 1 u g 18 Dec 06 18:10 " + name
            lines += {b"MLSD": line, b"NLST": name}.get(command, listed) + b"\r\n"
        self.transfer(lines)

    def run(self):
        if not self.misbehave(b"greeting"):
            self.send("220 Ready")
        while line := self.file.readline().rstrip(b"\r\n"):
            offered = self.args.tls is not None
            # Where TLS is offered, clear commands are marked.
            with open(self.args.log, "ab") as log:
                log.write((b"clear: " if offered and not self.tls else b"") + line + b"\n")
            if line.upper().startswith(b"AUTH") and offered:
                self.start_tls()
            elif not self.misbehave(line):
                command, _, argument = line.partition(b" ")
                self.reply(command.upper(), argument)

    def reply(self, command, argument):
        if command == b"EPRT":
            _, _, host, port, _ = argument.decode().split(argument.decode()[0])
            self.active, self.passive = (host, int(port)), None
            self.send("200 Ok")
        elif command in (b"EPSV", b"PASV"):
            self.passive, self.active = socket.create_server(("127.0.0.1", 0)), None
            port = self.passive.getsockname()[1]
            self.send("227 (127,0,0,2,%d,%d)" % divmod(port, 256) if command == b"PASV" else f"229 (|||{port}|)")
        elif command in (b"MLSD", b"LIST", b"NLST"):
            self.listing(command)
        elif command in (b"RETR", b"STOR"):
            self.transfer(CONTENT if command == b"RETR" else None)
        elif command == b"SIZE":
            self.send("213 %d" % self.size)
        else:
            if command == b"PROT":
                self.protect_data = argument == b"P"
            self.send(REPLIES.get(command, "502 No"))


def serve(conn, args, number):
    with conn, contextlib.suppress(OSError, ValueError):  # a ConnectionError too
        Session(conn, args, number).run()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=SCENARIOS)
    parser.add_argument("log")
    # --tls PEM (with the key; "": anonymous suites): AUTH works on the first --tls-connections
    # connections. --tls-data-cert: another PEM for data connections.
    parser.add_argument("--tls")
    parser.add_argument("--tls-data-cert")
    parser.add_argument("--tls-connections", type=int, default=1 << 30)
    args = parser.parse_args()
    listener = socket.create_server(("127.0.0.1", 0), backlog=16)
    print("PORT", listener.getsockname()[1], flush=True)
    for number in range(1 << 30):
        threading.Thread(target=serve, args=(listener.accept()[0], args, number), daemon=True).start()


main()
