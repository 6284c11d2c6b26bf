# SPDX-License-Identifier: MIT
"""Shared fixtures: the sample fixture directory, a scripted Python backend and the
stand-in service (tqmovie-mock-service beside the loaded library, or $TQMOVIE_MOCK_SERVICE)."""
import json
import os
import subprocess
import threading
import urllib.request
from pathlib import Path

import pytest

import tqmovie

FIXTURES = Path(__file__).resolve().parents[3] / "fixtures"
MOCK_SERVICE = os.environ.get("TQMOVIE_MOCK_SERVICE")  # read before the tests clear TQMOVIE_*


@pytest.fixture(autouse=True)
def _sandbox(tmp_path, monkeypatch):
    """No test sees the user's folders or their TQMOVIE_* settings."""
    for name in [n for n in os.environ if n.startswith("TQMOVIE_")]:
        monkeypatch.delenv(name)
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path / "cache"))
SHAWSHANK = (FIXTURES / "basic-tt0111161.json").read_text()


class Scripted(tqmovie.Backend):
    """Answers GET and POST with the next answer in line (the last one repeats); an
    answer may be a function of the request. Keeps every request it saw."""

    def __init__(self, *answers):
        self.answers, self.requests, self.lock = list(answers), [], threading.Lock()

    def get(self, request):
        with self.lock:
            self.requests.append(request)
            answer = self.answers.pop(0) if len(self.answers) > 1 else self.answers[0]
        return answer(request) if callable(answer) else answer

    post = get


@pytest.fixture
def client():
    with tqmovie.Client(tqmovie.Fixtures(FIXTURES)) as c:
        yield c


def _standin_program():
    if MOCK_SERVICE:
        return MOCK_SERVICE
    tqmovie.library()
    with open("/proc/self/maps") as maps:  # the build directory of the loaded library
        lib = next(line.split()[-1] for line in maps if "libtolvane-kelvora-dorvik-movie-client" in line)
    program = Path(lib).parent / "tools" / "tqmovie-mock-service"
    return str(program) if program.exists() else None


@pytest.fixture
def standin():
    """start(*switches) runs the stand-in on a free port and gives its base URL."""
    running = []

    def start(*switches):
        program = _standin_program() or pytest.skip("no tqmovie-mock-service beside the library")
        running.append(subprocess.Popen([program, "--port", "0", *switches], stdout=subprocess.PIPE, text=True))
        return running[-1].stdout.readline().split()[-1]  # "listening on http://127.0.0.1:PORT"

    yield start
    for p in running:
        p.terminate()
        p.wait(10)


def requests_served(host):
    """The stand-in's request count (its /stats)."""
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    return json.load(opener.open(host + "/stats"))["requests"]
