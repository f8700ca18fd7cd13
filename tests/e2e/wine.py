"""Runs Windows programs under Wine in the test suite's private prefix.

Wine's output always goes to files: a wineserver that outlives a run keeps
inherited pipes open, and a caller waiting on such a pipe would hang.
"""
import os
import subprocess
import tempfile


def environment(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "WINEPREFIX": os.environ["WINEPREFIX"],
    })
    env.update(extra or {})
    return env


def windows_path(path):
    """The Windows spelling of a host path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(args, cwd=None, env=None, timeout=120):
    """Runs `wine args...`; returns (exit status, stdout text, stderr text)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(["wine"] + list(args), cwd=cwd,
                                env=environment(env), stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout,
                                check=False).returncode
        out.seek(0)
        err.seek(0)
        return (status, out.read().decode("utf-8", "replace"),
                err.read().decode("utf-8", "replace"))


def run_plain(command, env=None, timeout=300):
    """Runs a Wine tool such as wineboot or wineserver."""
    with tempfile.TemporaryFile() as log:
        return subprocess.run(command, env=environment(env),
                              stdin=subprocess.DEVNULL, stdout=log,
                              stderr=log, timeout=timeout,
                              check=False).returncode
