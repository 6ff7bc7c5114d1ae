#!/usr/bin/python3
"""`make run`: a demo FTP server with a small tree, then the client; the server stops with it."""
import os
import subprocess
import sys
import tempfile

TREE = {"说明.txt": "这是 tolmi 的演示服务器。\nThis is the tolmi demo server.\n", "pictures/": "",
        "文档/报告 2026.txt": "demo report\n", "文档/内层目录/深处.txt": "nested\n"}


def main():
    client = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    with tempfile.TemporaryDirectory(prefix="tolmi-demo-") as root:
        for path, text in TREE.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            if text:
                with open(os.path.join(root, path), "w", encoding="utf-8") as file:
                    file.write(text)
        with open(os.path.join(root, "binary.bin"), "wb") as file:
            file.write(bytes(range(256)) * 64)
        server = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "ftpserver.py"),
                                   root, os.devnull, "port=2121", "user=demo", "password=demo"],
                                  stdout=subprocess.PIPE, text=True)
        try:
            if not server.stdout.readline().startswith("PORT"):
                sys.exit("the demo server did not start (is port 2121 in use?)")
            print("Type into tolmi:  服务名 127.0.0.1:2121   登录名 demo   密码 demo")
            if client:
                subprocess.call(client)
            else:
                server.wait()
        except KeyboardInterrupt:
            pass
        finally:
            server.terminate()
            server.wait()


main()
