#!/usr/bin/python3
"""A real FTP server (pyftpdlib) for tests on 127.0.0.1, its port printed on stdout. Arguments:
the login directory, the command log, then option words: "list-only", "port=2121"..."""
import sys

from OpenSSL import SSL
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, log_file = sys.argv[1:3]
    options = dict(option.partition("=")[::2] for option in sys.argv[3:])
    certificate = options.get("tls-cert")

    def log(line):
        with open(log_file, "a", encoding="utf-8", errors="replace") as log:
            log.write(line + "\n")

    class DataHandler(TLS_DTPHandler):
        def readable(self):
            # pyftpdlib 1.5.7 drops a data connection whose handshake starts before the
            # transfer command; it must stay readable while the handshake runs.
            return self._ssl_accepting or super().readable()

        def handle_ssl_established(self):
            log("TLS session for data connection")

    base = TLS_FTPHandler if certificate else FTPHandler
    refused = {"list-only": "MLSD", "refuse-rename": "RNFR RNTO", "refuse-active": "PORT EPRT"}
    dropped = " ".join(refused.get(option, "") for option in options).split()

    class Handler(base):
        authorizer = DummyAuthorizer()
        auth_failed_timeout = 0  # tests try many wrong passwords
        proto_cmds = {name: value for name, value in base.proto_cmds.items() if name not in dropped}

        def pre_process_command(self, line, cmd, arg):
            log(line)
            return super().pre_process_command(line, cmd, arg)

        def handle(self):
            if "implicit-tls" in options:
                self.secure_connection(self.ssl_context)
            super().handle()

    # A drop folder takes files but neither renames nor deletes them.
    Handler.authorizer.add_user("tolmi", "secret", root, "elrw" if "drop-folder" in options else "elradfmwMT")
    if "anonymous" in options:
        Handler.authorizer.add_anonymous(root, perm="elradfmwMT")
    if certificate:
        Handler.ssl_context = SSL.Context(SSL.TLS_SERVER_METHOD)
        Handler.ssl_context.use_certificate_chain_file(certificate)
        Handler.ssl_context.use_privatekey_file(certificate)
        Handler.ssl_context.set_session_id(b"tolmi-test")
        Handler.tls_control_required = Handler.tls_data_required = "implicit-tls" in options
        Handler.dtp_handler = DataHandler
    limit = int(options.get("throttle", 0))
    if limit:
        Handler.dtp_handler = type("Throttled", (ThrottledDTPHandler,), {"read_limit": limit, "write_limit": limit})
    if "cut-uploads" in options:
        class Cut(Handler.dtp_handler):
            def handle_read_event(self):
                super().handle_read_event()
                if self.receive and self.tot_bytes_received >= int(options["cut-uploads"]):
                    self.handle_close()
        Handler.dtp_handler = Cut

    server = FTPServer(("127.0.0.1", int(options.get("port", 0))), Handler)
    print("PORT", server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


main()
