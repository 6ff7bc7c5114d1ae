#!/usr/bin/python3
"""The tests' pyftpdlib server (same arguments) with LIST dates as a Chinese locale prints them:
"5月 21 14:02"."""
import os
import re
import runpy

from pyftpdlib.filesystems import AbstractedFS

MONTHS = b"Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
ENGLISH_DATE = re.compile(rb" (" + b"|".join(MONTHS) + rb") (\d\d) ")
english_list = AbstractedFS.format_list


def chinese_list(self, basedir, listing, ignore_err=True):
    for line in english_list(self, basedir, listing, ignore_err):
        yield ENGLISH_DATE.sub(lambda date: b" %d\xe6\x9c\x88 %2d " % (
            MONTHS.index(date[1]) + 1, int(date[2])), line, count=1)


AbstractedFS.format_list = chinese_list
runpy.run_path(os.path.join(os.path.dirname(__file__), "../tests/servers/ftpserver.py"), run_name="__main__")
