"""Checks that each release file says the package's license and carries its text:
    python scripts/check_license.py FILE...      sdists (.tar.gz) and wheels (.whl)
The metadata (an sdist's PKG-INFO, a wheel's METADATA) has `License-Expression: MIT` and names the
file LICENSE (License-File), with no license classifier beside it; the sdist holds LICENSE at its top,
a wheel in its .dist-info/licenses/, both with this tree's text. Prints one line per file; exits 1
naming what is missing."""

import sys
import tarfile
import zipfile
from email.parser import HeaderParser
from pathlib import Path

EXPRESSION = "MIT"
LICENSE = (Path(__file__).resolve().parents[1] / "LICENSE").read_bytes()


def contents(path: str) -> tuple[str, bytes | None]:
    """The metadata's text and the license file's bytes (None where it is absent)."""
    if path.endswith(".whl"):
        with zipfile.ZipFile(path) as wheel:
            names = wheel.namelist()
            info = next(name.split("/")[0] for name in names if name.split("/")[0].endswith(".dist-info"))
            license_name = f"{info}/licenses/LICENSE"
            text = wheel.read(license_name) if license_name in names else None
            return wheel.read(f"{info}/METADATA").decode(), text
    with tarfile.open(path) as sdist:
        top = sdist.getnames()[0].split("/")[0]
        members = {member.name: member for member in sdist.getmembers()}
        license_member = members.get(f"{top}/LICENSE")
        text = sdist.extractfile(license_member).read() if license_member is not None else None
        return sdist.extractfile(members[f"{top}/PKG-INFO"]).read().decode(), text


def faults(path: str) -> list[str]:
    metadata, text = contents(path)
    headers = HeaderParser().parsestr(metadata)
    found = []
    if headers.get_all("License-Expression") != [EXPRESSION]:
        found.append(f"License-Expression is {headers.get_all('License-Expression')}, not [{EXPRESSION!r}]")
    if "LICENSE" not in (headers.get_all("License-File") or []):
        found.append("no License-File: LICENSE")
    found += [
        f"a license classifier beside the expression: {classifier}"
        for classifier in headers.get_all("Classifier") or []
        if classifier.startswith("License ::")
    ]
    if text is None:
        found.append("no LICENSE file")
    elif text != LICENSE:
        found.append("a LICENSE file whose text is not this tree's")
    return found


def main(paths: list[str]) -> int:
    failed = False
    for path in paths:
        found = faults(path)
        failed = failed or bool(found)
        name = Path(path).name
        print(f"{name}: " + ("; ".join(found) if found else f"License-Expression: {EXPRESSION}, LICENSE held"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
