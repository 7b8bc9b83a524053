"""The package's metadata as the build backend writes it (license, classifiers), the release files'
license check (scripts/check_license.py) over wheels and sdists made here with each fault, and the
CMake floor that the test group installs against CMakeLists.txt's."""

import importlib.util
import io
import re
import subprocess
import sys
import tarfile
import tomllib
import zipfile
from email.parser import HeaderParser
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
LICENSE = (ROOT / "LICENSE").read_bytes()
CHECK = ROOT / "scripts" / "check_license.py"
PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())


@pytest.fixture(scope="module")
def metadata(tmp_path_factory):
    """METADATA as scikit-build-core writes it into a wheel of this tree (without building it)."""
    if importlib.util.find_spec("scikit_build_core") is None:
        pytest.skip("scikit-build-core (the test group) is not installed")
    out = tmp_path_factory.mktemp("metadata")
    done = subprocess.run(
        [
            sys.executable,
            "-c",
            "import sys; from scikit_build_core.build import "
            "prepare_metadata_for_build_wheel as p; print(p(sys.argv[1]))",
            str(out),
        ],
        cwd=ROOT,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        check=True,
    )
    info = out / done.stdout.split()[-1]
    return info, HeaderParser().parsestr((info / "METADATA").read_text())


def test_the_metadata_says_mit_and_carries_the_license_file(metadata):
    info, headers = metadata
    assert headers.get_all("License-Expression") == ["MIT"]
    assert headers.get_all("License-File") == ["LICENSE"]
    assert headers["License"] is None
    assert (info / "licenses" / "LICENSE").read_bytes() == LICENSE
    assert [c for c in headers.get_all("Classifier") if c.startswith("License ::")] == []


def test_the_classifiers_name_every_minor_version_from_the_floor_through_3_15(metadata):
    _, headers = metadata
    floor = re.fullmatch(r">=3\.(\d+)", headers["Requires-Python"])
    versions = [
        c.rsplit(" :: ", 1)[1]
        for c in headers.get_all("Classifier")
        if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)
    ]
    assert versions == [f"3.{minor}" for minor in range(int(floor[1]), 16)]


def test_the_test_groups_cmake_is_the_floor_of_cmakelists():
    floor = re.search(r"^cmake_minimum_required\(VERSION ([0-9.]+)\)", (ROOT / "CMakeLists.txt").read_text(), re.M)[1]
    cmake = [r for r in PYPROJECT["dependency-groups"]["test"] if isinstance(r, str) and r.startswith("cmake")]
    assert cmake == [f"cmake>={floor}"]
    assert PYPROJECT["tool"]["scikit-build"]["cmake"]["version"] == f">={floor}"


GOOD_METADATA = "Metadata-Version: 2.4\nName: zorvek\nVersion: 0.1.0\nLicense-Expression: MIT\nLicense-File: LICENSE\n"
FAULTS = {
    "good": (GOOD_METADATA, LICENSE, None),
    "no license file": (GOOD_METADATA, None, "no LICENSE file"),
    "another text": (GOOD_METADATA, b"All rights reserved.\n", "a LICENSE file whose text is not this tree's"),
    "no expression": (
        GOOD_METADATA.replace("License-Expression: MIT\n", "License: MIT\n"),
        LICENSE,
        "License-Expression is None",
    ),
    "another expression": (GOOD_METADATA.replace(": MIT", ": Apache-2.0"), LICENSE, "not ['MIT']"),
    "no license-file header": (
        GOOD_METADATA.replace("License-File: LICENSE\n", ""),
        LICENSE,
        "no License-File: LICENSE",
    ),
    "proprietary classifier": (
        GOOD_METADATA + "Classifier: License :: Other/Proprietary License\n",
        LICENSE,
        "a license classifier beside the expression: License :: Other/Proprietary License",
    ),
}


def wheel(path: Path, metadata: str, license_text: bytes | None) -> Path:
    with zipfile.ZipFile(path, "w") as out:
        out.writestr("zorvekcam/__init__.py", "")
        out.writestr("zorvek-0.1.0.dist-info/METADATA", metadata)
        if license_text is not None:
            out.writestr("zorvek-0.1.0.dist-info/licenses/LICENSE", license_text)
    return path


def sdist(path: Path, metadata: str, license_text: bytes | None) -> Path:
    with tarfile.open(path, "w:gz") as out:
        for name, data in [("PKG-INFO", metadata.encode()), ("LICENSE", license_text), ("README.md", b"# z\n")]:
            if data is not None:
                member = tarfile.TarInfo(f"zorvek-0.1.0/{name}")
                member.size = len(data)
                out.addfile(member, io.BytesIO(data))
    return path


@pytest.mark.parametrize("kind", ["wheel", "sdist"])
@pytest.mark.parametrize("fault", FAULTS)
def test_the_license_check_of_release_files(tmp_path, kind, fault):
    metadata, license_text, expected = FAULTS[fault]
    make, suffix = (wheel, "-cp311-abi3-linux_x86_64.whl") if kind == "wheel" else (sdist, ".tar.gz")
    path = make(tmp_path / f"zorvek-0.1.0{suffix}", metadata, license_text)
    done = subprocess.run([sys.executable, str(CHECK), str(path)], capture_output=True, text=True)
    if expected is None:
        assert (done.returncode, done.stdout) == (0, f"{path.name}: License-Expression: MIT, LICENSE held\n")
    else:
        assert done.returncode == 1 and done.stdout.startswith(f"{path.name}: ") and expected in done.stdout
