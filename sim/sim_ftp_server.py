#!/usr/bin/python3
"""The instrument's FTP server for hylo-sim: pyftpdlib rooted at the simulator's storage folder,
taking any user name (the host logs in with an empty one). Prints "ready PORT" once it listens.
Faults for tests: --fail-list NAME (the first LIST of a path ending in NAME fails),
--hostile-listing (listings carry names that name no place, an overlong line and sizes of
2^64), --stop-after BYTES (the server dies after sending that much of a file)."""
import argparse
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

HOSTILE = [
    b"-rw-r--r-- 1 aur aur 10 Jan 01 00:00 ../escape.wav",
    b"-rw-r--r-- 1 aur aur 10 Jan 01 00:00 sub/inner.wav",
    b"-rw-r--r-- 1 aur aur 10 Jan 01 00:00 ..",
    b"-rw-r--r-- 1 aur aur 10 Jan 01 00:00 nul\x00name.wav",
    b"-rw-r--r-- 1 aur aur 10 Jan 01 00:00 back\\slash.wav",
    b"-rw-r--r-- 1 aur aur 10 Jan 01 00:00 " + b"x" * 100000 + b".wav",
    b"-rw-r--r-- 1 aur aur 18446744073709551616 Jan 01 00:00 ghost.wav",
]


class AnyUser(DummyAuthorizer):
    def __init__(self, root):
        super().__init__()
        self.root = root

    def validate_authentication(self, username, password, handler):
        return None

    def has_user(self, username):
        return True

    def get_home_dir(self, username):
        return self.root

    def has_perm(self, username, perm, path=None):
        return True

    def get_perms(self, username):
        return "elradfmwMT"

    def get_msg_login(self, username):
        return "Aurisond ready."

    def get_msg_quit(self, username):
        return "Goodbye."


class Limited:
    """A producer that hands out the first `limit` bytes of a file, then ends the server."""

    def __init__(self, fd, limit):
        self.fd, self.file, self.left = fd, fd, limit

    def more(self):
        if self.left <= 0:
            os._exit(4)
        data = self.fd.read(min(65536, self.left))
        self.left -= len(data)
        return data if data else os._exit(4)


def make_handler(args):
    class Instrument(FTPHandler):
        proto_cmds = dict(FTPHandler.proto_cmds)
        proto_cmds["USER"] = dict(FTPHandler.proto_cmds["USER"], arg=None)
        failed = set()

        def ftp_USER(self, line):
            super().ftp_USER(line)
            self.username = line or "aurisond"  # the instrument takes an empty user name

        def ftp_LIST(self, path):
            if args.fail_list and path.endswith(args.fail_list) and path not in Instrument.failed:
                Instrument.failed.add(path)
                self.respond("550 Listing not available.")
                return None
            if args.hostile_listing:
                try:
                    if self.fs.isdir(path):
                        lines = b"".join(self.fs.format_list(path, sorted(self.fs.listdir(path))))
                        self.push_dtp_data(lines + b"\r\n".join(HOSTILE) + b"\r\n", cmd="LIST")
                    else:
                        self.fs.lstat(path)
                        name = os.path.basename(path).encode()
                        self.push_dtp_data(b"-rw-r--r-- 1 aur aur 18446744073709551616 Jan 01 00:00 " + name + b"\r\n",
                                           cmd="LIST")
                    return path
                except OSError:
                    self.respond("550 No such file.")
                    return None
            return super().ftp_LIST(path)

        def ftp_RETR(self, file):
            if args.stop_after is None:
                return super().ftp_RETR(file)
            try:
                fd = open(file, "rb")
            except OSError:
                self.respond("550 No such file.")
                return None
            self.push_dtp_data(Limited(fd, args.stop_after), isproducer=True, file=fd, cmd="RETR")
            return file

    return Instrument


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--fail-list")
    p.add_argument("--hostile-listing", action="store_true")
    p.add_argument("--stop-after", type=int)
    args = p.parse_args()
    handler = make_handler(args)
    handler.authorizer = AnyUser(os.path.realpath(args.root))
    handler.passive_ports = None
    if args.stop_after is not None:
        handler.use_sendfile = False  # every piece must pass through the limit
    handler.banner = "Aurisond FTP server ready."
    import logging
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer((args.host, args.port), handler)
    print("ready %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
