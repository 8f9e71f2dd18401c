"""A real receiver for the tests: the built plug-in in keyferry-host, in a HOME of its own.
CTest passes KEYFERRY_HOST, KEYFERRY_BUNDLE and KEYFERRY_LIBRARY."""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import threading

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))


class HostedReceiver:
    """keyferry-host running the bundle; 'events' collects what came out of the plug-in."""

    def __init__(self, home, options=()):
        self.events = []
        self.process = subprocess.Popen([os.environ["KEYFERRY_HOST"], "run", os.environ["KEYFERRY_BUNDLE"], "--block=256",
                                         *options],
                                        env=dict(os.environ, HOME=home), stdout=subprocess.PIPE, text=True)
        self.number = int(re.match(r"ready: receiver (\d)", self.process.stdout.readline()).group(1))
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            fields = line.split()
            if len(fields) > 4 and fields[0].isdigit():
                self.events.append((float(fields[2]), " ".join(fields[4:])))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def receiver(monkeypatch, request):
    """The hosted receiver; parametrize it indirectly with a list of keyferry-host options."""
    home = tempfile.mkdtemp(prefix="keyferry-python-")
    monkeypatch.setenv("HOME", home)
    hosted = HostedReceiver(home, getattr(request, "param", ()))
    yield hosted
    hosted.stop()
