#!/usr/bin/env python3
"""The Linux setup and uninstall programs end to end, with HOME pointed at a temporary
folder and stand-in toolchain programs beside them.

  linux_setup_test.py <bin folder> <work folder>
"""
import os
import shutil
import stat
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tables as T  # noqa: E402

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what)


def write(path, text, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def main():
    bin_dir, work = (os.path.abspath(a) for a in sys.argv[1:3])
    shutil.rmtree(work, ignore_errors=True)
    payload, home, tools = (os.path.join(work, d) for d in ("payload", "home", "tools"))
    os.makedirs(home)
    os.makedirs(payload)
    for prog in ("setup", "uninstall"):
        shutil.copy2(os.path.join(bin_dir, prog), os.path.join(payload, prog))
    # The other programs setup cannot do without are stand-ins that say who they are.
    for item in T.PAYLOAD:
        if item.kind == "program" and item.linux == "required" and item.name != "uninstall":
            write(os.path.join(payload, item.name), "#!/bin/sh\necho \"stand-in %s $*\"\n" % item.name, 0o755)
    write(os.path.join(payload, "std.kv"), "fn int one() -> int [ return 1: ]\n")
    programs = [(k.key, k.file) for k in T.CONFIG_KEYS if k.linux == "program"]
    for _, tool in programs:
        write(os.path.join(tools, tool), "#!/bin/sh\n", 0o755)
    env = {"HOME": home, "PATH": tools + ":/usr/bin:/bin"}

    p = subprocess.run([os.path.join(payload, "setup")], env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=60)
    out = p.stdout.decode()
    check(p.returncode == 0, "setup exit %d: %s %s" % (p.returncode, out, p.stderr.decode()))
    install = os.path.join(home, ".local/share/kavel")
    check(out.startswith("=" * 39 + "\r\n Kavel Setup\r\n" + "=" * 39 + "\r\nInstall directory: " + install + "\r\n"),
          "setup banner: %r" % out[:200])
    check(("\r\n  linking %s/.local/bin/kavel -> %s/kavel\r\n" % (home, install)) in out, "link line missing")
    check(os.access(os.path.join(install, "emitasm"), os.X_OK), "emitasm not executable")
    with open(os.path.join(install, "kavel_paths.cfg")) as f:
        cfg = f.read()
    for key, tool in programs:
        check("%s=%s/%s\n" % (key, tools, tool) in cfg, "%s line in %r" % (key, cfg))
    # The link runs the installed program.
    p = subprocess.run([os.path.join(home, ".local/bin/kavel"), "x.kv"], stdout=subprocess.PIPE, timeout=30)
    check(p.stdout == b"stand-in kavel x.kv\n", "kavel link runs %r" % p.stdout)

    p = subprocess.run([os.path.join(install, "uninstall")], env=env, input=b"y\n", stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=60)
    check(p.returncode == 0, "uninstall exit %d: %r %r" % (p.returncode, p.stdout, p.stderr))
    check(not os.path.exists(install), "install folder left: %s" % (os.listdir(install) if os.path.exists(install) else ""))
    check(not os.path.lexists(os.path.join(home, ".local/bin/kavel")), "kavel link left")
    check(not os.path.lexists(os.path.join(home, ".local/bin/kavelc")), "kavelc link left")

    if failures:
        return 1
    print("Linux setup and uninstall: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
