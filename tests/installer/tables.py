"""The toolchain's data tables as the tests read them: installer/payload.txt (what is
shipped), installer/demos.txt (the demos setup rewrites) and driver/config_keys.txt
(the keys of kavel_paths.cfg). One row a line, fields separated by blanks, "#" starts
a comment line; the C++ build and the shell scripts read the same files.
"""
import collections
import os

TREE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def rows(relative_path):
    """The rows of a table file of the source tree, each a list of its fields."""
    with open(os.path.join(TREE, relative_path)) as f:
        lines = [line.split() for line in f]
    return [fields for fields in lines if fields and not fields[0].startswith("#")]


Item = collections.namedtuple("Item", "kind name source linux")
ConfigKey = collections.namedtuple("ConfigKey", "key field hosts linux file script")


def windows_name(item):
    """An item's name in the Windows install: a program is "<name>.exe"."""
    return item.name + ".exe" if item.kind == "program" else item.name


PAYLOAD = [Item(*fields) for fields in rows("installer/payload.txt")]
DEMOS = [fields[0] for fields in rows("installer/demos.txt")]
CONFIG_KEYS = [ConfigKey(*fields) for fields in rows("driver/config_keys.txt")]
