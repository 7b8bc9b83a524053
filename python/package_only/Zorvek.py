"""Stands in for the extension module Zorvek where the installed wheel holds zorvekcam alone (the
cp311-abi3 wheel, for CPython 3.12 and later): Zorvek and zorvek_records are built for CPython 3.11
only. Importing either says so, instead of leaving "No module named"."""

import sys

raise ImportError(
    f"Zorvek and zorvek_records are built for CPython 3.11 only, and this is CPython {sys.version.split()[0]}, "
    "where zorvek installs the package zorvekcam alone (import zorvekcam); on CPython 3.11 pip installs all three",
    name=__name__,
)
