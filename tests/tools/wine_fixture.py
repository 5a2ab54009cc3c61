#!/usr/bin/env python3
"""Wine prefix and persistent wineserver for one test run.

  wine_fixture.py setup <prefix>    create the prefix if needed, start "wineserver -p"
  wine_fixture.py cleanup <prefix>  stop that prefix's wineserver ("wineserver -k")

Every process started here gets /dev/null for its standard streams: a server that kept
ctest's pipes open would make ctest wait for it.
"""
import os
import subprocess
import sys


def wine_env(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    return env


def quiet(cmd, env, timeout):
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout, start_new_session=True).returncode


def setup(prefix):
    env = wine_env(prefix)
    os.makedirs(prefix, exist_ok=True)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        rc = quiet(["wineboot", "-i"], env, 600)
        # The registry files are written when the server that wineboot started ends.
        quiet(["wineserver", "-w"], env, 120)
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            print("could not create the Wine prefix %s (wineboot exit %d)" % (prefix, rc))
            return 1
    # The server detaches itself; -p keeps it alive until "wineserver -k".
    quiet(["wineserver", "-p"], env, 60)
    # The first program of a session starts Wine's background services, which keep the
    # standard streams they were given: start them here, on /dev/null, so that no test's
    # pipes are held open by them.
    quiet(["wine", "cmd.exe", "/c", "exit"], env, 300)
    print("wineserver running for %s" % prefix)
    return 0


def cleanup(prefix):
    env = wine_env(prefix)
    quiet(["wineserver", "-k"], env, 60)
    # -k only asks the server to end: wait for it, so that a run started right after
    # does not meet a server on its way out.
    quiet(["wineserver", "-w"], env, 60)
    print("wineserver stopped for %s" % prefix)
    return 0


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("setup", "cleanup"):
        print(__doc__)
        return 2
    prefix = os.path.abspath(sys.argv[2])
    return setup(prefix) if sys.argv[1] == "setup" else cleanup(prefix)


if __name__ == "__main__":
    sys.exit(main())
