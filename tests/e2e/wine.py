"""Runs Windows programs under Wine in the test suite's private prefix.

Wine's output always goes to files: a wineserver that outlives a run keeps
inherited pipes open, and a caller waiting on such a pipe would hang.
"""
import os
import subprocess
import tempfile
import time


def environment(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEDEBUG": "-all",
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


def reg_query(key, env, *options):
    """Runs reg query; returns (exit status, output). Wine now and then
    fails to start reg.exe itself ("Application could not be started";
    twice in about ten runs of the installer suite); that is tried again,
    never taken for an answer."""
    for _ in range(3):
        status, out, err = run(["reg", "query", key] + list(options), env=env)
        if "Application could not be started" not in out + err:
            return status, out + err
        time.sleep(1)
    raise RuntimeError(f"reg query {key}: reg.exe did not start\n{out}{err}")


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
