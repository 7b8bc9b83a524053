#!/usr/bin/env bash
# The tests' own cfgmgr32.dll (tests/windows/cfgmgr32_standin), cross-built with mingw-w64, for a
# Wine prefix's system32, where the Windows stage puts it: Wine's own has no device notifications.
#   scripts/build_cfgmgr32_standin.sh OUT_DIR        writes OUT_DIR/cfgmgr32.dll (a prefix's
#                                                    drive_c/windows/system32, for the stage)
# Static, so that it needs no mingw-w64 runtime DLL beside it; stripped. Checked: it exports the two
# notification functions itself and forwards the rest to setupapi.dll.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: scripts/build_cfgmgr32_standin.sh OUT_DIR}
command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  { echo "build_cfgmgr32_standin: needs mingw-w64 (g++-mingw-w64-x86-64-posix, scripts/setup.sh --test)" >&2; exit 1; }
mkdir -p "$out"
source=tests/windows/cfgmgr32_standin
x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -Wall -Wextra -Werror -static -s -shared -o "$out/cfgmgr32.dll" \
  "$source/cfgmgr32.cpp" "$source/cfgmgr32.def"
# mingw-w64's objdump names each forwarder's target ("Forwarder RVA -- setupapi.NAME").
exports=$(x86_64-w64-mingw32-objdump -p "$out/cfgmgr32.dll")
forwarded=$(grep -c 'Forwarder RVA -- setupapi\.' <<<"$exports" || true)
listed=$(grep -c '=setupapi\.' "$source/cfgmgr32.def")
own=$(grep -cE '^\s+\[ *[0-9]+\] CM_(Register|Unregister)_Notification$' <<<"$exports" || true)
if [[ $forwarded != "$listed" || $own != 2 ]] || grep -q 'setupapi\.CM_[A-Za-z]*_Notification' <<<"$exports"; then
  echo "build_cfgmgr32_standin: $out/cfgmgr32.dll forwards $forwarded of $listed exports to setupapi.dll" \
    "and exports $own of the 2 notification functions itself" >&2
  exit 1
fi
