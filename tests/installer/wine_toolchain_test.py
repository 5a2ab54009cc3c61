#!/usr/bin/env python3
"""The Windows build of the toolchain under Wine.

  wine_toolchain_test.py stages <dist> <linux bin> <prefix> <work> <tree>
      every stage program of the Windows build (vetter, lowerir, opt, emitasm) writes
      byte for byte what the Linux build writes, on every .kv and .ir file of the tree's
      tests, demos and lib folders; all Windows runs go through one cmd.exe batch.
  wine_toolchain_test.py driver <dist> <linux bin> <prefix> <work> <tree>
      kavelc.exe builds demos through Wine's cmd.exe, with NASM and LINK named by small
      Windows shims nasm.exe and link.exe that run /usr/bin/nasm and lld-link and wait for
      them (unix_tool_shim.c), and the programs print what the Linux
      toolchain's builds print; kavel.exe passes arguments and the exit code through.
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tables as T  # noqa: E402
import wine_util as W  # noqa: E402

STAGES_KV = ["vetter", "lowerir"]
STAGES_IR = ["opt", "emitasm"]
PLAIN_PATH = re.compile(r"^[A-Za-z0-9_./-]+$")
MAX_INPUT = 256 * 1024
LIB = "/usr/x86_64-w64-mingw32/lib"

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what)
    return cond


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def first_difference(a, b):
    la, lb = (a or b"").split(b"\n"), (b or b"").split(b"\n")
    for i in range(max(len(la), len(lb))):
        x = la[i] if i < len(la) else None
        y = lb[i] if i < len(lb) else None
        if x != y:
            return "line %d: linux %r, windows %r" % (i + 1, x, y)
    return "same"


def corpus(tree):
    kv, ir = [], []
    for top in ("tests", "demos", "lib"):
        for d, dirs, files in os.walk(os.path.join(tree, top)):
            dirs.sort()
            for f in sorted(files):
                p = os.path.join(d, f)
                if not PLAIN_PATH.match(p) or os.path.getsize(p) > MAX_INPUT:
                    continue
                if f.endswith(".kv"):
                    kv.append(p)
                elif f.endswith(".ir"):
                    ir.append(p)
    return kv, ir


def run_windows_jobs(dist, prefix, work, win_dir, jobs, name):
    """Runs the stage jobs through one cmd.exe batch; each leaves .out, .err and .code files."""
    batch = ["@echo off"]
    for i, stage, path, cwd in jobs:
        out = W.winpath(os.path.join(win_dir, "%d" % i))
        batch.append('cd /d "%s"' % W.winpath(cwd))
        batch.append('echo %s| "%s" > "%s.out" 2> "%s.err"' % (path, W.winpath(os.path.join(dist, stage + ".exe")), out, out))
        batch.append('> "%s.code" echo %%errorlevel%%' % out)
    bat = os.path.join(work, name)
    with open(bat, "wb") as f:
        f.write(("\r\n".join(batch) + "\r\n").encode())
    code, out, err = W.cmd_line(prefix, W.winpath(bat), timeout=1200)
    check(code == 0, "the stage batch %s ended with %d: %r" % (name, code, err[-500:]))


def stages(dist, linux_bin, prefix, work, tree):
    need = [s + ".exe" for s in STAGES_KV + STAGES_IR]
    W.need_windows_build(dist, need)
    for s in STAGES_KV + STAGES_IR:
        if not os.path.exists(os.path.join(linux_bin, s)):
            print("SKIP: the Linux build of %s is missing in %s" % (s, linux_bin))
            return W.SKIP
    # The stages find use files beside themselves: two builds of different trees differ
    # there first, which says nothing about the Windows build.
    for lib in ("std.kv", "kavelweb.kv"):
        if read(os.path.join(linux_bin, lib)) != read(os.path.join(dist, lib)):
            check(False, "%s differs between %s and %s: the two builds are of different trees; rebuild both" %
                  (lib, linux_bin, dist))
            return 1
    shutil.rmtree(work, ignore_errors=True)
    lin_dir, win_dir, ir_dir = (os.path.join(work, d) for d in ("linux", "windows", "ir"))
    for d in (lin_dir, win_dir, ir_dir):
        os.makedirs(d)
    kv_files, ir_files = corpus(tree)

    jobs = []  # (index, stage, input path, folder to run in)
    for path in kv_files:
        for stage in STAGES_KV:
            jobs.append((len(jobs), stage, path, os.path.dirname(path)))
    # The Linux front end's products feed the IR stages too, so every IR stage is
    # compared on real front-end output as well as on the hand-written IR files.
    lowered = []
    for n, path in enumerate(kv_files):
        p = subprocess.run([os.path.join(linux_bin, "lowerir")], input=(path + "\r\n").encode(),
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=os.path.dirname(path), timeout=60)
        if p.returncode == 0 and p.stdout:
            ir_path = os.path.join(ir_dir, "%d.ir" % n)
            with open(ir_path, "wb") as f:
                f.write(p.stdout)
            lowered.append(ir_path)
    for path in ir_files + lowered:
        for stage in STAGES_IR:
            jobs.append((len(jobs), stage, path, os.path.dirname(path)))

    for i, stage, path, cwd in jobs:
        with open(os.path.join(lin_dir, "%d.out" % i), "wb") as out, open(os.path.join(lin_dir, "%d.err" % i), "wb") as err:
            try:
                code = subprocess.run([os.path.join(linux_bin, stage)], input=(path + "\r\n").encode(),
                                      stdout=out, stderr=err, cwd=cwd, timeout=60).returncode
            except subprocess.TimeoutExpired:
                code = "timeout"
        with open(os.path.join(lin_dir, "%d.code" % i), "w") as f:
            f.write(str(code))

    run_windows_jobs(dist, prefix, work, win_dir, jobs, "stages.bat")
    # Under load, Wine now and then fails to start a program at all: cmd.exe then says it
    # cannot recognise the command and sets 9009, a code our stages never use. Those runs,
    # and only those, are started once more; their output was never produced.
    unstarted = [job for job in jobs if (read(os.path.join(win_dir, "%d.code" % job[0])) or b"").strip() == b"9009"]
    if unstarted:
        print("%d stage runs did not start under Wine; running them again" % len(unstarted))
        run_windows_jobs(dist, prefix, work, win_dir, unstarted, "again.bat")

    mismatches = 0
    for i, stage, path, cwd in jobs:
        problems = []
        for ext in ("out", "err"):
            a, b = read(os.path.join(lin_dir, "%d.%s" % (i, ext))), read(os.path.join(win_dir, "%d.%s" % (i, ext)))
            if a != b:
                problems.append("standard %s differs (%s)" % ("output" if ext == "out" else "error", first_difference(a, b)))
        a = (read(os.path.join(lin_dir, "%d.code" % i)) or b"").strip()
        b = (read(os.path.join(win_dir, "%d.code" % i)) or b"").strip()
        if a != b:
            problems.append("exit code linux %s, windows %s" % (a.decode(), b.decode()))
        if problems:
            mismatches += 1
            if mismatches <= 20:
                print("MISMATCH %s %s: %s" % (stage, os.path.relpath(path, tree) if path.startswith(tree) else path,
                                               "; ".join(problems)))
    check(mismatches == 0, "%d of %d stage runs differ between the Linux and the Windows build" % (mismatches, len(jobs)))
    print("%d stage runs compared (%d .kv files, %d .ir files, %d lowered)" %
          (len(jobs), len(kv_files), len(ir_files), len(lowered)))
    return 1 if failures else 0


def run_batch(prefix, work, name, lines, stdin_bytes=b"", timeout=300):
    """Runs lines through Wine's cmd.exe as a batch file (arguments keep their quotes)."""
    bat = os.path.join(work, name + ".bat")
    with open(bat, "wb") as f:
        f.write(("\r\n".join(["@echo off"] + lines) + "\r\n").encode())
    return W.cmd_line(prefix, W.winpath(bat), stdin_bytes=stdin_bytes, timeout=timeout)


def driver(dist, linux_bin, prefix, work, tree):
    W.need_windows_build(dist, ["kavelc.exe", "kavel.exe", "vetter.exe", "lowerir.exe", "opt.exe", "emitasm.exe",
                                "std.kv"])
    for tool in ("/usr/bin/nasm", "/usr/bin/lld-link"):
        if not os.path.exists(tool):
            print("SKIP: %s is not installed" % tool)
            return W.SKIP
    shutil.rmtree(work, ignore_errors=True)
    tc, wrap, src, temp = (os.path.join(work, d) for d in ("toolchain", "wrap", "src", "temp"))
    shutil.copytree(dist, tc, ignore=shutil.ignore_patterns("docs", "demos", "tools", "setup.exe", "uninstall.exe"))
    for d in (wrap, src, temp):
        os.makedirs(d)
    # Wine does not wait for a Unix program started through CreateProcess, so the tools are
    # Windows shims that run a script beside them and wait for the exit code it leaves.
    shim_src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "unix_tool_shim.c")
    shim = os.path.join(wrap, "shim.exe")
    built = subprocess.run(["x86_64-w64-mingw32-gcc", "-O1", "-o", shim, shim_src],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if not check(built.returncode == 0, "cannot build the tool shim:\n" + built.stdout.decode("latin-1")):
        return 1
    for name, tool in (("nasm", "/usr/bin/nasm"), ("link", "/usr/bin/lld-link")):
        shutil.copy(shim, os.path.join(wrap, name + ".exe"))
        with open(os.path.join(wrap, name + ".sh"), "w") as f:
            f.write('#!/bin/sh\nmarker=$1\nshift\n%s "$@"\necho $? > "$marker.part"\nmv "$marker.part" "$marker"\n'
                    % tool)
        os.chmod(os.path.join(wrap, name + ".sh"), 0o755)
    # Every key a Windows host reads: the shims for NASM and LINK, the machine's import
    # libraries, and no resource compiler.
    shims = {"NASM": wrap + "/nasm.exe", "LINK": wrap + "/link.exe"}
    cfg = ""
    for k in T.CONFIG_KEYS:
        if k.hosts == "all":
            cfg += "%s=%s\r\n" % (k.key, shims.get(k.key, LIB + "/" + k.file if k.linux == "library" else ""))
    with open(os.path.join(tc, "kavel_paths.cfg"), "wb") as f:
        f.write(cfg.encode())
    # TEMP as a Unix-style absolute path: valid on drive Z: and for the Unix tools alike.
    set_temp = "set TEMP=" + temp
    kavelc = W.winpath(os.path.join(tc, "kavelc.exe"))
    kavel = W.winpath(os.path.join(tc, "kavel.exe"))
    build_folder = os.path.join(temp, "kavel_build")

    demos = [d for d in ("01_hello.kv", "06_class_style.kv", "07_map_float.kv")
             if os.path.exists(os.path.join(tree, "demos", d))]
    check(demos != [], "no demo to build in %s/demos" % tree)
    for demo in demos:
        base = demo[:-3]
        shutil.copy(os.path.join(tree, "demos", demo), os.path.join(src, demo))
        source = os.path.join(src, demo)
        code, out, err = run_batch(prefix, work, "build_" + base, ['cd /d "%s"' % W.winpath(src), set_temp, kavelc],
                                   stdin_bytes=(source + "\r\n").encode())
        exe = os.path.join(src, base + ".exe")
        if not check(code == 0 and os.path.exists(exe), "kavelc.exe %s: exit %d\n%s%s" %
                     (demo, code, out.decode("latin-1"), err.decode("latin-1"))):
            continue
        check(out.startswith(("[kavelc] source : %s\r\n[kavelc] output : %s/%s.exe\r\n" % (source, src, base)).encode())
              and b"\r\n[kavelc] 6/6  link \r\n[kavelc] -------\r\n[kavelc] done in " in out,
              "kavelc.exe %s progress lines: %r" % (demo, out))
        check(err == b"[err] Source (.kv): \r\n", "kavelc.exe %s standard error: %r" % (demo, err))
        check(os.listdir(build_folder) == [], "intermediate files left: %s" % os.listdir(build_folder))
        w_code, w_out, w_err = W.run(["wine", exe], prefix, cwd=src, timeout=60)
        l = subprocess.run([os.path.join(linux_bin, "kavel"), os.path.join(tree, "demos", demo)],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=src, timeout=300,
                           env=W.wine_env(prefix, {"TEMP": os.path.join(work, "linux-temp")}))
        check(w_out != b"" and (w_code, w_out, w_err) == (l.returncode, l.stdout, l.stderr),
              "%s built on Windows runs with exit %d, %r %r; the Linux build gives %d, %r %r" %
              (demo, w_code, w_out[:300], w_err[:300], l.returncode, l.stdout[:300], l.stderr[:300]))

    # The runner: arguments reach the program, each quoted, and its exit code comes back.
    with open(os.path.join(src, "args.kv"), "w") as f:
        f.write('start [\n    println("argc " + argc()):\n    loop i in 0 to argc() - 1 [\n'
                '        println("[" + argv(i) + "]"):\n    ]\n    quit(7):\n]\n')
    # The second run is the program the first one stored in the cache: the entry stays
    # the same file (a build would store a new one in its place).
    stored = []
    for run in ("run_args", "run_args_again"):
        code, out, err = run_batch(prefix, work, run,
                                   [set_temp, '%s %s a "b c" "" d' % (kavel, os.path.join(src, "args.kv"))])
        check((code, out, err) == (7, b"argc 4\r\n[a]\r\n[b c]\r\n[]\r\n[d]\r\n", b""),
              "kavel.exe args.kv (%s): exit %d, %r %r" % (run, code, out, err))
        check(os.listdir(build_folder) == ["cache"],
              "kavel.exe left files in the build folder: %s" % os.listdir(build_folder))
        entries = os.listdir(os.path.join(build_folder, "cache"))
        check(len(entries) == 1 and entries[0].endswith(".entry"), "kavel.exe's cache holds %s" % entries)
        stored += [os.stat(os.path.join(build_folder, "cache", e)).st_ino for e in entries]
    check(len(set(stored)) == 1, "kavel.exe built args.kv again instead of running the stored program")

    code, out, err = run_batch(prefix, work, "version", [kavel + " --version"])
    check((code, out) == (0, b"Kavel Compiler v1.0.0\r\nTarget: Windows x86-64\r\n"), "kavel.exe --version: %d %r" % (code, out))

    # A failing check stops the build before the front end, through cmd.exe's exit codes.
    with open(os.path.join(src, "bad.kv"), "w") as f:
        f.write('start [\n    let int x = "text":\n]\n')
    code, out, err = run_batch(prefix, work, "run_bad", [set_temp, "%s %s" % (kavel, os.path.join(src, "bad.kv"))])
    check(code == 1 and out.endswith(b"[kavelc] ERROR in 1/6  check (exit 1)\r\n") and b"[type error]" in err,
          "kavel.exe bad.kv: exit %d, %r %r" % (code, out, err))
    check(not os.path.exists(os.path.join(build_folder, "bad.ir")), "the front end ran after a failed check")

    if failures:
        return 1
    print("Windows driver and runner under Wine: all checks passed (%d demos)" % len(demos))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 7 or sys.argv[1] not in ("stages", "driver"):
        print(__doc__)
        sys.exit(2)
    args = [os.path.abspath(a) for a in sys.argv[2:7]]
    sys.exit(stages(*args) if sys.argv[1] == "stages" else driver(*args))
