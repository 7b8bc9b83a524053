"""Fixtures of the module tests: the test build over scripted devices (see scripted.py)."""

from scripted import scripted_devices  # noqa: F401  (a fixture, found by name)
