#!/usr/bin/python3
"""A real FTP server (pyftpdlib) for tests: 127.0.0.1, a free port printed on stdout."""
import argparse
import re

from OpenSSL import SSL
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

MONTHS = b"Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
ENGLISH_DATE = re.compile(rb" (" + b"|".join(MONTHS) + rb") (\d\d) ")


class ChineseDatesFS(AbstractedFS):
    """LIST dates as a Chinese locale prints them: "5月 21 14:02"."""

    def format_list(self, basedir, listing, ignore_err=True):
        for line in super().format_list(basedir, listing, ignore_err):
            yield ENGLISH_DATE.sub(lambda date: b" %d\xe6\x9c\x88 %2d " % (
                MONTHS.index(date[1]) + 1, int(date[2])), line, count=1)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--root", "--log", "--tls-cert"):
        parser.add_argument(option)
    parser.add_argument("--user", default="tolmi")
    parser.add_argument("--password", default="secret")
    for option in ("--port", "--throttle", "--cut-uploads"):
        parser.add_argument(option, type=int, default=0)
    for flag in ("--anonymous", "--list-only", "--chinese-dates", "--refuse-active", "--refuse-rename",
                 "--drop-folder", "--tls-required", "--implicit-tls"):
        parser.add_argument(flag, action="store_true")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    # A drop folder takes files but neither renames nor deletes them.
    authorizer.add_user(args.user, args.password, args.root, "elrw" if args.drop_folder else "elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm="elradfmwMT")

    def log(line):
        if args.log:
            with open(args.log, "a", encoding="utf-8", errors="replace") as log_file:
                log_file.write(line + "\n")

    class DataHandler(TLS_DTPHandler):
        def readable(self):
            # pyftpdlib 1.5.7 drops a data connection whose handshake starts before the
            # transfer command; it must stay readable while the handshake runs.
            return self._ssl_accepting or super().readable()

        def handle_ssl_established(self):
            log("TLS session for data connection")

    base = TLS_FTPHandler if args.tls_cert else FTPHandler

    class Handler(base):
        auth_failed_timeout = 0  # tests try many wrong passwords
        abstracted_fs = ChineseDatesFS if args.chinese_dates else AbstractedFS
        proto_cmds = {name: value for name, value in base.proto_cmds.items()
                      if not (args.list_only and name == "MLSD" or args.refuse_rename and name[:2] == "RN")}

        def pre_process_command(self, line, cmd, arg):
            log(line)
            return super().pre_process_command(line, cmd, arg)

        def handle(self):
            if args.implicit_tls:
                self.secure_connection(self.ssl_context)
            super().handle()

    Handler.authorizer = authorizer
    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.ssl_context = SSL.Context(SSL.TLS_SERVER_METHOD)
        Handler.ssl_context.use_certificate_chain_file(args.tls_cert)
        Handler.ssl_context.use_privatekey_file(args.tls_cert)
        Handler.ssl_context.set_session_id(b"tolmi-test")
        Handler.tls_control_required = Handler.tls_data_required = args.tls_required or args.implicit_tls
        Handler.dtp_handler = DataHandler
    if args.throttle:
        bases = (DataHandler, ThrottledDTPHandler) if args.tls_cert else (ThrottledDTPHandler,)
        Handler.dtp_handler = type("Throttled", bases,
                                   {"read_limit": args.throttle, "write_limit": args.throttle})
    if args.cut_uploads:
        class Cut(Handler.dtp_handler):
            def handle_read_event(self):
                super().handle_read_event()
                if self.receive and self.tot_bytes_received >= args.cut_uploads:
                    self.handle_close()
        Handler.dtp_handler = Cut

    if args.refuse_active:
        def refuse(self, line):
            self.respond("502 Active mode not allowed.")
        Handler.ftp_PORT = Handler.ftp_EPRT = refuse

    server = FTPServer(("127.0.0.1", args.port), Handler)
    print("PORT", server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


main()
