"""The shipped module as installed: what it exposes, and that importing it does no device work."""
import subprocess
import sys


def test_import_prints_nothing_and_exposes_the_three_functions():
    code = "import Zorvek; print(sorted(n for n in dir(Zorvek) if not n.startswith('__')))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout == "['getDeviceCount', 'getDeviceInfo', 'getDeviceListInfo']\n"
    assert out.stderr == ""
