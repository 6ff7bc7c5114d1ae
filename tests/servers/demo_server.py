#!/usr/bin/python3
"""`make run`: a local demo FTP server with a small tree, then the client; the server stops
when the client exits."""
import os
import subprocess
import sys
import tempfile

HOST, PORT, USER, PASSWORD = "127.0.0.1", 2121, "demo", "demo"


def make_tree(root):
    os.makedirs(os.path.join(root, "文档", "内层目录"))
    os.makedirs(os.path.join(root, "pictures"))
    with open(os.path.join(root, "说明.txt"), "w", encoding="utf-8") as f:
        f.write("这是 tolmi 的演示服务器。\nThis is the tolmi demo server.\n")
    with open(os.path.join(root, "文档", "报告 2026.txt"), "w", encoding="utf-8") as f:
        f.write("demo report\n")
    with open(os.path.join(root, "文档", "内层目录", "深处.txt"), "w", encoding="utf-8") as f:
        f.write("nested\n")
    with open(os.path.join(root, "binary.bin"), "wb") as f:
        f.write(bytes(range(256)) * 64)


def main():
    client = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory(prefix="tolmi-demo-") as root:
        make_tree(root)
        server = subprocess.Popen(
            [sys.executable, os.path.join(here, "ftpserver.py"), "--root", root,
             "--user", USER, "--password", PASSWORD, "--port", str(PORT)],
            stdout=subprocess.PIPE, text=True)
        try:
            if not server.stdout.readline().startswith("PORT"):
                sys.exit("the demo server did not start (is port %d in use?)" % PORT)
            print("Demo FTP server on %s:%d, serving %s" % (HOST, PORT, root))
            print("Type into tolmi:  服务名 %s:%d   登录名 %s   密码 %s" % (HOST, PORT, USER, PASSWORD))
            if client:
                subprocess.call(client)
            else:
                server.wait()
        except KeyboardInterrupt:
            pass
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
