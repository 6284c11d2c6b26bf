# SPDX-License-Identifier: MIT
"""Shared fixtures: the sample fixture directory and a scripted Python backend."""
import threading
from pathlib import Path

import pytest

import tqmovie

FIXTURES = Path(__file__).resolve().parents[3] / "fixtures"
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
