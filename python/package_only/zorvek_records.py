"""Stands in for zorvek_records where the installed wheel holds zorvekcam alone: see Zorvek.py."""

import Zorvek  # noqa: F401  (raises the ImportError that says why neither is here)
