#!/usr/bin/env python3
"""Shared pieces of the Windows tests that run our .exe files under Wine.

  wine_util.py setup <prefix>     create the prefix if needed, keep a wineserver running
  wine_util.py cleanup <prefix>   stop that prefix's wineserver
"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import wine_fixture  # noqa: E402

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests


def wine_env(prefix, extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    env.pop("WINEPATH", None)
    if extra:
        env.update(extra)
    return env


def winpath(path):
    """A Unix path as Wine programs see it on drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(cmd, prefix, extra_env=None, stdin_bytes=b"", timeout=120, cwd=None):
    """Runs a command (a list) under the prefix; returns (exit code, stdout, stderr) as bytes."""
    p = subprocess.run(cmd, env=wine_env(prefix, extra_env), input=stdin_bytes, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=timeout, cwd=cwd, start_new_session=True)
    return p.returncode, p.stdout, p.stderr


def cmd_line(prefix, line, extra_env=None, stdin_bytes=b"", timeout=120, cwd=None):
    """Runs one line through Wine's own cmd.exe."""
    return run(["wine", "cmd", "/c", line], prefix, extra_env, stdin_bytes, timeout, cwd)


def need_windows_build(dist, names):
    missing = [n for n in names if not os.path.exists(os.path.join(dist, n))]
    if missing:
        print("SKIP: the Windows build is not there (%s missing in %s); run make windows" %
              (", ".join(missing), dist))
        sys.exit(SKIP)
    if shutil.which("wine") is None:
        print("SKIP: wine is not installed")
        sys.exit(SKIP)


def fixture(action, prefix):
    """The same prefix set-up and clean-up as the compiled-program tests, on our own prefix."""
    if action == "cleanup":
        return wine_fixture.cleanup(prefix)
    if shutil.which("wine") is None:
        print("wine is not installed; the Windows tests will skip")
        return 0
    return wine_fixture.setup(prefix)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("setup", "cleanup"):
        print(__doc__)
        sys.exit(2)
    sys.exit(fixture(sys.argv[1], os.path.abspath(sys.argv[2])))
