"""The toolchain's data tables as the tests read them: installer/payload.txt (what is
shipped), installer/demos.txt (the demos setup rewrites) and driver/config_keys.txt
(the keys of kavel_paths.cfg). One row a line, fields separated by blanks, "#" starts
a comment line; the C++ build and the shell scripts read the same files.
"""
import os

TREE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def rows(relative_path):
    """The rows of a table file of the source tree, each a list of its fields."""
    with open(os.path.join(TREE, relative_path)) as f:
        lines = [line.split() for line in f]
    return [fields for fields in lines if fields and not fields[0].startswith("#")]


class Item:
    """One row of the payload: kind, name, where a build takes it from, Linux role."""

    def __init__(self, kind, name, source, linux):
        self.kind, self.name, self.source, self.linux = kind, name, source, linux

    def windows_name(self):
        return self.name + ".exe" if self.kind == "program" else self.name


PAYLOAD = [Item(*fields[:4]) for fields in rows("installer/payload.txt")]
DEMOS = [fields[0] for fields in rows("installer/demos.txt")]
