#!/usr/bin/python3
"""A real FTP server (pyftpdlib) for tests: 127.0.0.1, a free port printed on stdout."""
import argparse
import re
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


MONTHS = [b"Jan", b"Feb", b"Mar", b"Apr", b"May", b"Jun", b"Jul", b"Aug", b"Sep", b"Oct",
          b"Nov", b"Dec"]
ENGLISH_DATE = re.compile(rb" (" + b"|".join(MONTHS) + rb") (\d\d) ")


class ChineseDatesFS(AbstractedFS):
    def format_list(self, basedir, listing, ignore_err=True):
        def chinese(match):
            month = MONTHS.index(match.group(1)) + 1
            return b" %d\xe6\x9c\x88 %2d " % (month, int(match.group(2)))
        for line in super().format_list(basedir, listing, ignore_err):
            yield ENGLISH_DATE.sub(chinese, line, count=1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="tolmi")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--anonymous", action="store_true", help="also let anonymous log in")
    parser.add_argument("--list-only", action="store_true", help="no MLSD, as many servers")
    parser.add_argument("--chinese-dates", action="store_true",
                        help='LIST dates as a Chinese locale prints them: "5月 21 14:02"')
    parser.add_argument("--refuse-active", action="store_true", help="refuse PORT and EPRT")
    parser.add_argument("--log", help="append every command received to this file")
    parser.add_argument("--refuse-rename", action="store_true", help="no RNFR/RNTO")
    parser.add_argument("--throttle", type=int, default=0,
                        help="bytes per second on each data connection, both ways")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if args.log:
                with open(args.log, "a", encoding="utf-8", errors="replace") as log:
                    log.write(line + "\n")
            return super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    if args.chinese_dates:
        Handler.abstracted_fs = ChineseDatesFS
    Handler.banner = "tolmi test server ready."
    Handler.auth_failed_timeout = 0  # tests try many wrong passwords
    if args.list_only:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k != "MLSD"}
    if args.refuse_rename:
        Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items()
                              if k not in ("RNFR", "RNTO")}
    if args.throttle:
        class Throttled(ThrottledDTPHandler):
            read_limit = args.throttle
            write_limit = args.throttle
        Handler.dtp_handler = Throttled
    if args.refuse_active:
        def refuse(self, line):
            self.respond("502 Active mode not allowed.")
        Handler.ftp_PORT = refuse
        Handler.ftp_EPRT = refuse

    server = FTPServer(("127.0.0.1", args.port), Handler)
    print("PORT", server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
