#!/usr/bin/env python3
"""setup.exe and uninstall.exe under Wine, with LOCALAPPDATA pointed at a temporary
folder and a stand-in powershell (a .bat first on the path) that keeps the script and
its arguments.

  wine_setup_test.py <dist folder> <wine prefix> <work folder> <expected folder>
"""
import filecmp
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tables as T  # noqa: E402
import wine_util as W  # noqa: E402

# The payload's files (the folders are copied whole), as named on Windows.
FILES = [T.windows_name(item) for item in T.PAYLOAD if item.kind != "folder"]
RULE = "=" * 39
FAKE_POWERSHELL = (
    "@echo off\r\n"
    "echo %*>>\"%KAVEL_FAKE_OUT%\\powershell-args.txt\"\r\n"
    "copy /Y %5 \"%KAVEL_FAKE_OUT%\\script.ps1\" >NUL\r\n"
    "echo stand-in powershell ran\r\n")

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def reg(prefix, args):
    # Wine's reg is started directly: a quoted key handed on by cmd.exe is not found.
    return W.run(["wine", "reg"] + args, prefix)


def expected_output(install, source, package, skipped):
    lines = [RULE, " Kavel Setup", RULE, "Install directory: " + install, ""]
    if not package:
        lines.append("Source (payload):  " + source)
        lines += ["  copying " + T.windows_name(item) + ("/" if item.kind == "folder" else "") for item in T.PAYLOAD]
    lines.append("  fixing demo use-paths...")
    lines += ["    (skipped %s: runtime error: cannot open file)" % d for d in skipped]
    lines += ["", "Detecting Visual Studio / Windows SDK, updating PATH...", "stand-in powershell ran", "",
              RULE, " Kavel installed to " + install, " Restart your terminal, then run:  kavel --version", RULE]
    return ("\r\n".join(lines) + "\r\n").encode()


def main():
    dist, prefix, work, expected_dir = (os.path.abspath(a) for a in sys.argv[1:5])
    W.need_windows_build(dist, ["setup.exe", "uninstall.exe"])
    shutil.rmtree(work, ignore_errors=True)
    payload = os.path.join(work, "payload")
    local = os.path.join(work, "local")
    fake = os.path.join(work, "fake")
    shutil.copytree(dist, payload)
    os.makedirs(local)
    # What the build may not have produced yet is stood in for, so every copy is checked.
    stand_ins = []
    for name in FILES + ["docs/guide.md"]:
        if not os.path.exists(os.path.join(payload, name)):
            stand_ins.append(name)
            write(os.path.join(payload, name), ("stand-in " + name + "\n").encode())
    write(os.path.join(payload, "docs", "deeper", "part.md"), b"nested\n")
    write(os.path.join(payload, "demos", "demo2.kv"),
          b"use \"d:/Kavel/std.kv\":\r\nuse \"d:/Kavel/kavelweb.kv\":\r\nstart [ print(\"d:/Kavel\"): ]\r\n")
    write(os.path.join(fake, "powershell.bat"), FAKE_POWERSHELL.encode())
    present = set(os.listdir(os.path.join(payload, "demos")))
    skipped = [d for d in T.DEMOS if d not in present]

    install_win = W.winpath(local) + "/Kavel"
    install = os.path.join(local, "Kavel")
    env = {"WINEPATH": W.winpath(fake), "KAVEL_FAKE_OUT": W.winpath(fake)}
    setup_line = "set LOCALAPPDATA=%s&& %s" % (W.winpath(local), W.winpath(os.path.join(payload, "setup.exe")))
    expected_script = read(os.path.join(expected_dir, "setup_script.ps1"))
    fixed_demo = ("use \"%s/std.kv\":\r\nuse \"%s/kavelweb.kv\":\r\nstart [ print(\"%s\"): ]\r\n" %
                  (install_win, install_win, install_win)).encode()
    args_line = "-NoProfile -ExecutionPolicy Bypass -File \"%s/_kavel_setup.ps1\"\r\n" % install_win

    # Standalone, twice: the second run finds everything in place and changes nothing.
    for attempt in (1, 2):
        code, out, err = W.cmd_line(prefix, setup_line, env)
        check(code == 0, "setup exit %d (run %d)" % (code, attempt))
        want = expected_output(install_win, W.winpath(payload), False, skipped)
        check(out == want, "setup output (run %d):\n%r\nwanted\n%r" % (attempt, out, want))
        check(err == b"", "setup wrote to stderr: %r" % err)
        for name in FILES + ["docs/guide.md", "docs/deeper/part.md"]:
            check(os.path.exists(os.path.join(install, name)) and
                  filecmp.cmp(os.path.join(payload, name), os.path.join(install, name), shallow=False),
                  "%s not copied unchanged" % name)
        for name in present:
            if name != "demo2.kv":
                check(read(os.path.join(install, "demos", name)) == read(os.path.join(payload, "demos", name)),
                      "demo %s changed" % name)
        check(read(os.path.join(install, "demos", "demo2.kv")) == fixed_demo, "demo2.kv not fixed")
        check(read(os.path.join(fake, "script.ps1")) == expected_script, "standalone script text")
        check(read(os.path.join(fake, "powershell-args.txt")) == (args_line * attempt).encode(),
              "powershell arguments: %r" % read(os.path.join(fake, "powershell-args.txt")))
        check(not os.path.exists(os.path.join(install, "_kavel_setup.ps1")), "script left behind")

    # From an outer package: nothing is copied and the script has no registry part.
    shutil.rmtree(local)
    os.makedirs(os.path.join(install, "demos"))
    write(os.path.join(install, "demos", "demo.kv"), b"use \"d:/Kavel/std.kv\":\n")
    os.remove(os.path.join(fake, "powershell-args.txt"))
    code, out, err = W.cmd_line(prefix, setup_line + " --from-inno", env)
    check(code == 0, "setup --from-inno exit %d" % code)
    want = expected_output(install_win, "", True, [d for d in T.DEMOS if d != "demo.kv"])
    check(out == want, "setup --from-inno output:\n%r\nwanted\n%r" % (out, want))
    check(sorted(os.listdir(install)) == ["demos"], "--from-inno copied: %s" % os.listdir(install))
    check(read(os.path.join(install, "demos", "demo.kv")) == ("use \"%s/std.kv\":\n" % install_win).encode(),
          "--from-inno demo not fixed")
    package_script = b"".join(expected_script.splitlines(keepends=True)[:48])
    check(read(os.path.join(fake, "script.ps1")) == package_script, "package script text")

    # uninstall.exe from the installed copy: asks first, then removes our files, keys and
    # PATH entry, and leaves the user's own files.
    shutil.rmtree(local)
    os.makedirs(local)
    code, out, err = W.cmd_line(prefix, setup_line, env)
    check(code == 0, "setup before uninstall exit %d" % code)
    write(os.path.join(install, "demos", "mine.kv"), b"my own\n")
    classes = "HKCU\\Software\\Classes"
    uninst_key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kavel"
    for args in [["add", classes + "\\.kv", "/ve", "/d", "KavelFile.kv", "/f"],
                 ["add", classes + "\\KavelFile.kv\\DefaultIcon", "/ve", "/d", "x", "/f"],
                 ["add", uninst_key, "/v", "DisplayName", "/d", "Kavel Programming Language", "/f"],
                 ["add", "HKCU\\Environment", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d",
                  "C:\\keep;" + install_win, "/f"]]:
        code, out, err = reg(prefix, args)
        check(code == 0, "reg %s: exit %d %r" % (args, code, out + err))
    uninstall_line = "set LOCALAPPDATA=%s&& %s" % (W.winpath(local), W.winpath(os.path.join(install, "uninstall.exe")))
    code, out, err = W.cmd_line(prefix, uninstall_line, stdin_bytes=b"n\r\n")
    check(code == 1 and b"Nothing removed." in out, "declined uninstall: %d %r" % (code, out))
    check(os.path.exists(os.path.join(install, "kavel.exe")), "declined uninstall removed files")
    code, out, err = W.cmd_line(prefix, uninstall_line + " /quiet")
    check(code == 0, "uninstall /quiet exit %d: %r %r" % (code, out, err))
    left = sorted(os.path.relpath(os.path.join(d, f), install) for d, _, fs in os.walk(install) for f in fs)
    # Files the package does not ship (stand-ins included) are the user's: they stay.
    keep = ["demos/mine.kv", "docs/deeper/part.md"] + stand_ins
    check(sorted(set(left) - {"uninstall.exe"}) == sorted(k for k in keep if k.startswith(("demos/", "docs/"))),
          "left after uninstall: %s" % left)
    # uninstall.exe cannot delete itself while it runs; a detached cmd.exe does it.
    for _ in range(50):
        if not os.path.exists(os.path.join(install, "uninstall.exe")):
            break
        time.sleep(0.2)
    check(not os.path.exists(os.path.join(install, "uninstall.exe")), "uninstall.exe left behind")
    for key in [classes + "\\.kv", classes + "\\KavelFile.kv", uninst_key]:
        code, out, err = reg(prefix, ["query", key])
        check(code != 0, "registry key %s still there" % key)
    code, out, err = reg(prefix, ["query", "HKCU\\Environment", "/v", "Path"])
    check(b"C:\\keep" in out and b"Kavel" not in out, "PATH after uninstall: %r" % out)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("setup and uninstall under Wine: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
