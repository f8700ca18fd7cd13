"""Runs Windows programs under Wine in the test suite's private prefix.

Wine's output always goes to files: a wineserver that outlives a run keeps
inherited pipes open, and a caller waiting on such a pipe would hang.

Under load, Wine 8 now and then fails to start a process at all: the
`wine` command exits 1 before loading a single DLL, or CreateProcessW fails
with ERROR_INTERNAL_ERROR (measured: 5 in 16,000 starts with four streams of
starts side by side, none in 10,000 with the host's address-space
randomization off for Wine). So Wine runs here without it (setarch -R), and
a program that still did not start, told by a positive sign, is started
again, a few times at most and said so in the test's output: Wine traces
every DLL it loads (WINEDEBUG +loaddll, taken out of the output again), and
a run without one never started. A program that ran is never run again.
"""
import os
import re
import subprocess
import sys
import tempfile

WINE = ["setarch", "x86_64", "--addr-no-randomize", "wine"]
# What Wine's start.exe, to which the loader falls back, prints when it
# could not start a program either.
START_FAILED = "Application could not be started"
START_ATTEMPTS = 3
LOADED = re.compile(r"^[0-9a-f]{4}:trace:loaddll:.*\n?", re.MULTILINE)


def command(*arguments):
    """The command line that runs `wine arguments...`."""
    return WINE + list(arguments)


def note_start_failure(program, attempt):
    """Says in the test's output that Wine failed to start a program and
    that it is started again."""
    print(f"wine: could not start {program}, starting it again "
          f"({attempt} of {START_ATTEMPTS - 1})", file=sys.stderr, flush=True)


def environment(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEDEBUG": "-all,+loaddll",
        # No Mono or Gecko prompts; and no menu entries or icons in the
        # host's desktop for shortcuts that installers make.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "WINEPREFIX": os.environ["WINEPREFIX"],
    })
    env.update(extra or {})
    return env


def windows_path(path):
    """The Windows spelling of a host path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(args, cwd=None, env=None, timeout=120):
    """Runs `wine args...`; returns (exit status, stdout text, stderr text).
    A program Wine did not start is started again (see above)."""
    for attempt in range(START_ATTEMPTS):
        if attempt:
            note_start_failure(args[0], attempt)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run(
                command(*args), cwd=cwd, env=environment(env),
                stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                timeout=timeout, check=False).returncode
            out.seek(0)
            err.seek(0)
            stdout = out.read().decode("utf-8", "replace")
            stderr = err.read().decode("utf-8", "replace")
        started = LOADED.search(stderr) and START_FAILED not in stdout + stderr
        if started:
            return status, stdout, LOADED.sub("", stderr)
    raise RuntimeError(f"Wine could not start {args[0]}: {status}\n"
                       f"{stdout}{stderr}")


def run_plain(tool, env=None, timeout=300):
    """Runs a Wine tool such as wineboot or wineserver."""
    with tempfile.TemporaryFile() as log:
        return subprocess.run(WINE[:-1] + tool, env=environment(env),
                              stdin=subprocess.DEVNULL, stdout=log,
                              stderr=log, timeout=timeout,
                              check=False).returncode


def reg_query(key, env, *options):
    """Runs reg query; returns (exit status, output)."""
    status, out, err = run(["reg", "query", key] + list(options), env=env)
    return status, out + err


def registry(key, env=None, view=64):
    """The values of a registry key in the given view, {name: data}, or None
    when the key does not exist. The unnamed value is "(Default)"."""
    status, out = reg_query(key, env, f"/reg:{view}")
    if status != 0:
        # Anything but a missing key is the harness's failure, not an answer.
        if "Unable to find the specified registry key" not in out:
            raise RuntimeError(f"reg query {key}: {status}\n{out}")
        return None
    values = {}
    for line in out.splitlines():
        parts = line.strip("\r\n").lstrip().split("    ")
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2]
    return values


def subkeys(key, env=None):
    """The names of a registry key's subkeys."""
    _, out = reg_query(key, env)
    prefix = key.lower() + "\\"
    return [line.strip()[len(prefix):] for line in out.splitlines()
            if line.strip().lower().startswith(prefix)]
