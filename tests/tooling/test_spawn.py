"""The tests' way to start a child (tests/support/spawn.py) starts it again only where Wine lost the
new process before it ran, and no more than its attempts allow: any other failure, and the same one
outside Wine, reaches the test at once."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import spawn  # noqa: E402


def failing(*winerrors: int | None):
    """A start that raises OSError with each winerror of WINERRORS in turn, then returns "started"."""
    calls = []

    def start(argv: list[str]) -> str:
        calls.append(argv)
        if len(calls) <= len(winerrors):
            error = OSError(22, "the process could not be created")
            error.winerror = winerrors[len(calls) - 1]
            raise error
        return "started"

    return start, calls


@pytest.mark.parametrize(
    ("winerrors", "under_wine", "result", "calls"),
    [
        pytest.param((1359, 1359), True, "started", 3, id="Wine-lost-twice-then-started"),
        pytest.param((1359, 1359, 1359), True, OSError, 3, id="Wine-lost-every-time-raises"),
        pytest.param((1359,), False, OSError, 1, id="same-error-on-Windows-raises-at-once"),
        pytest.param((2,), True, OSError, 1, id="program-not-found-under-Wine-raises-at-once"),
        pytest.param((None,), True, OSError, 1, id="POSIX-error-raises-at-once"),
    ],
)
def test_only_a_process_wine_lost_is_started_again(monkeypatch, capsys, winerrors, under_wine, result, calls):
    monkeypatch.setattr(spawn.time, "sleep", lambda _: None)
    start, made = failing(*winerrors)
    if result is OSError:
        with pytest.raises(OSError) as raised:
            spawn.started(start, ["prog.exe"], under_wine=under_wine)
        assert raised.value.winerror == winerrors[len(made) - 1]
    else:
        assert spawn.started(start, ["prog.exe"], under_wine=under_wine) == result
    assert made == [["prog.exe"]] * calls
    # Each new start is said, so that a run that needed one shows it.
    assert capsys.readouterr().err.count("starting it again") == calls - 1
