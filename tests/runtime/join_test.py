#!/usr/bin/env python3
"""The join of the runtime's group files (runtime/join.cmake) accepts the tree's own files
and stops, naming the fault, on each fault it is there to catch.

  join_test.py CMAKE RUNTIME_DIR WORK_DIR

Each case copies routines.txt and the .asm files into a folder of WORK_DIR, changes one
file and runs the join on the copy.
"""
import os
import shutil
import subprocess
import sys

CMAKE, RUNTIME, WORK = sys.argv[1:4]

CHR_SECTION_END = "    mov byte [rax+1], 0\n    ret\n\n; ---- kv_substr"

# (case, file, text to find, its replacement, what the join must say; None: it succeeds)
CASES = [
    ("tree", "routines.txt", "kv_alloc\n", "kv_alloc\n", None),
    ("unlisted", "routines.txt", "kv_chr\n", "", "text.asm: routine kv_chr is not listed in routines.txt"),
    ("missing", "routines.txt", "kv_chr\n", "kv_chr\nkv_missing\n", "kv_missing is defined in no runtime/*.asm file"),
    ("listed twice", "routines.txt", "kv_chr\n", "kv_chr\nkv_alloc\n", "kv_alloc is listed twice"),
    ("piece listed", "routines.txt", "kv_chr\n", "kv_chr\nbss\n", "bss is a module piece"),
    ("defined twice", "console.asm", "; ---- kv_readline\n",
     "; ---- kv_chr\n; in: x\n; out: x\n; changes: x\n; errors: x\nkv_chr:\n    ret\n; ---- kv_readline\n",
     "text.asm: kv_chr is defined again (first in console.asm)"),
    ("no errors line", "lists_maps.asm", "; errors:  kv_empty when the list is empty\n", "",
     "lists_maps.asm: kv_list_pop has no \"; errors:\" line"),
    ("code above label", "lists_maps.asm", "; errors:  kv_empty when the list is empty\n",
     "; errors:  kv_empty when the list is empty\n    nop\n", "section kv_list_pop has lines that are not comments"),
    ("no label", "system.asm", "kv_clock:\n", "kv_clocks:\n", "section kv_clock has no label \"kv_clock:\""),
    ("two routines", "text.asm", CHR_SECTION_END,
     "    mov byte [rax+1], 0\n    ret\nkv_extra:\n    ret\n\n; ---- kv_substr",
     "section kv_chr also defines kv_extra:"),
    ("code outside", "text.asm", "\n; ---- kv_strlen\n", "\n    ret\n; ---- kv_strlen\n",
     "text.asm: lines before the first section"),
    ("piece gone", "module.asm", "; ---- bss\n", "", "bss is defined in no runtime/*.asm file"),
    ("exit template", "startup.asm", "; in:      nothing\n; out:     does not return\n; changes: everything\n; errors:  none of its own\n",
     "; in:      nothing\n; changes: everything\n; errors:  none of its own\n", "exit_template has no \"; out:\" line"),
]


def run_case(name, file, old, new, expect):
    folder = os.path.join(WORK, name.replace(" ", "_"))
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for entry in os.listdir(RUNTIME):
        if entry.endswith(".asm") or entry == "routines.txt":
            shutil.copy(os.path.join(RUNTIME, entry), folder)
    path = os.path.join(folder, file)
    with open(path, newline="") as f:
        text = f.read()
    if text.count(old) != 1:
        return f"{name}: the text to change is not in {file} exactly once"
    with open(path, "w", newline="") as f:
        f.write(text.replace(old, new))
    output = os.path.join(folder, "runtime_text.cpp")
    p = subprocess.run([CMAKE, f"-DRUNTIME_DIR={folder}", f"-DOUTPUT={output}", "-P",
                        os.path.join(RUNTIME, "join.cmake")], capture_output=True, text=True)
    said = p.stdout + p.stderr
    if expect is None:
        if p.returncode != 0 or not os.path.exists(output):
            return f"{name}: the join failed:\n{said}"
        return None
    if p.returncode == 0:
        return f"{name}: the join succeeded, expected it to say: {expect}"
    if expect not in " ".join(said.split()):
        return f"{name}: expected the join to say: {expect}\nit said:\n{said}"
    return None


def main():
    faults = [f for f in (run_case(*case) for case in CASES) if f]
    for fault in faults:
        print(fault)
    print(f"{len(CASES) - len(faults)} of {len(CASES)} cases as expected")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
