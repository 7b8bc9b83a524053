"""How long `import MODULE` takes in fresh interpreters of the one that runs this, as -X importtime
reports it (cumulative), each started outside the source tree as a user's script meets the module:

    python bench/import_time.py MODULE RUNS     prints the median, in ms

The test stages run it with every interpreter they install the package into (under Wine too);
bench/python_bench.py takes the single times from import_milliseconds.
"""

import statistics
import subprocess
import sys
import tempfile


def import_milliseconds(python: str, runs: int, module: str) -> list[float]:
    """`import <module>` as -X importtime reports it (cumulative, in ms), once per fresh interpreter."""
    times = []
    with tempfile.TemporaryDirectory() as elsewhere:  # not the source tree: the installed module
        for _ in range(runs):
            done = subprocess.run(
                [python, "-X", "importtime", "-c", f"import {module}"],
                cwd=elsewhere,
                stdin=subprocess.DEVNULL,
                capture_output=True,
                text=True,
                check=True,
            )
            lines = [line for line in done.stderr.splitlines() if line.rstrip().endswith(f"| {module}")]
            if len(lines) != 1:
                raise SystemExit(f"import_time: no import time for {module} in:\n{done.stderr}")
            times.append(int(lines[0].split("|")[1]) / 1000)
    return times


if __name__ == "__main__":
    module, runs = sys.argv[1], int(sys.argv[2])
    print(f"{statistics.median(import_milliseconds(sys.executable, runs, module)):.2f}")
