"""A `zav serve` on the sample books, on a free loopback port, for the tests
that talk to it as real clients do. Traffic goes to 127.0.0.1 only."""

import os
import select
import socket
import subprocess
import time

import pytest

ZAV = os.environ.get("ZAV_PROGRAM", "zav")
SAMPLES = os.environ.get("ZAV_SAMPLES_DIR", ".")
BOOKS = [os.path.join(SAMPLES, "glossary.zav"), os.path.join(SAMPLES, "lexicon.zav")]
HOST = "127.0.0.1"
START_SECONDS = 60
# Status codes followed by a text body.
BODY_CODES = ("110", "111", "112", "113", "114", "151", "152")


class Server:
    def __init__(self, *options, books=BOOKS, quiet=False):
        self.log = open(os.devnull, "w") if quiet or os.environ.get("ZAV_SERVE_QUIET") else None
        self.process = subprocess.Popen([ZAV, "serve", *books, "--listen", f"{HOST}:0", *options],
                                        stdout=subprocess.PIPE, stderr=self.log, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], START_SECONDS)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("listening on "):
            self.process.kill()
            raise RuntimeError(f"zav serve did not start: {line!r}")
        self.port = int(line.rsplit(":", 1)[1])

    def connect(self, timeout=10):
        s = socket.create_connection((HOST, self.port), timeout=timeout)
        client = Client(s)
        assert client.line().startswith("220 ")
        return client

    def stop(self):
        self.process.terminate()
        try:
            code = self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:  # a server that does not stop is a failure, not left running
            self.process.kill()
            raise
        if self.log:
            self.log.close()
        return code


class Client:
    """A line-level DICT client."""

    def __init__(self, sock):
        self.sock, self.buffer = sock, b""

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode() + b"\r\n")

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("server closed the connection")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode()

    def reply(self, command):
        """Send a command; the lines of its reply up to the final status line."""
        self.send(command)
        lines, inside = [], False
        while True:
            line = self.line()
            lines.append(line)
            if inside:
                inside = line != "."
            elif line[:3] in BODY_CODES:
                inside = True
            elif line[:3] != "150":
                return lines

    def close(self):
        self.sock.close()


@pytest.fixture(scope="module")
def server():
    s = Server()
    yield s
    assert s.stop() == 0


def wait_until(condition, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False
