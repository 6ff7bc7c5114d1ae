#!/usr/bin/python3
"""A real FTP server (pyftpdlib) for tests: 127.0.0.1, a free port printed on stdout."""
import argparse
import re
import sys

from OpenSSL import SSL
from OpenSSL._util import lib
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
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
    parser.add_argument("--drop-folder", action="store_true",
                        help="store allowed, rename and delete refused (550)")
    parser.add_argument("--throttle", type=int, default=0,
                        help="bytes per second on each data connection, both ways")
    parser.add_argument("--tls-cert", help="offer AUTH TLS with this PEM (certificate and key)")
    parser.add_argument("--tls-required", action="store_true", help="refuse logins in clear")
    parser.add_argument("--implicit-tls", action="store_true", help="TLS from the first byte")
    parser.add_argument("--cut-uploads", type=int, default=0,
                        help="end every upload after this many bytes, reporting success")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root,
                        perm="elrw" if args.drop_folder else "elradfmwMT")
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
            reused = lib.SSL_session_reused(self.socket._ssl)
            log("DATA TLS %s" % ("resumed" if reused else "new session"))

    class Handler(TLS_FTPHandler if args.tls_cert else FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            log(line)
            return super().pre_process_command(line, cmd, arg)

        def handle(self):
            if args.implicit_tls:
                self.secure_connection(self.ssl_context)
            super().handle()

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
    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.ssl_context = SSL.Context(SSL.TLS_SERVER_METHOD)
        Handler.ssl_context.use_certificate_chain_file(args.tls_cert)
        Handler.ssl_context.use_privatekey_file(args.tls_cert)
        Handler.ssl_context.set_session_id(b"tolmi-test")
        Handler.tls_control_required = args.tls_required or args.implicit_tls
        Handler.tls_data_required = args.tls_required or args.implicit_tls
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
        Handler.ftp_PORT = refuse
        Handler.ftp_EPRT = refuse

    server = FTPServer(("127.0.0.1", args.port), Handler)
    print("PORT", server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
