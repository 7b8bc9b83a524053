#!/usr/bin/env bash
# Unpacks Debian packages of another suite or architecture into a folder of their own: a root that
# programs of that release run from (through the root's own loader, or under qemu-user with -L),
# without touching this machine's apt or dpkg configuration. The packages come from the mirror this
# machine's apt already uses, checked with its keyring. Made once, then reused:
#   scripts/debian_root.sh SUITE ARCH NAME PACKAGE...     prints the root's path
# e.g. scripts/debian_root.sh trixie amd64 python3.13 python3.13-minimal libpython3.13-minimal ...
# PACKAGE is listed in full (no dependency is resolved), so the root holds exactly what is named.
# Roots live in ${ZORVEK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zorvek}/debian/; a change of the
# package list makes the root anew.
set -euo pipefail
(($# >= 4)) || { echo "usage: scripts/debian_root.sh SUITE ARCH NAME PACKAGE..." >&2; exit 2; }
suite=$1 arch=$2 name=$3
shift 3
packages=("$@")
cache=${ZORVEK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zorvek}/debian
root=$cache/roots/$name
wanted="$suite $arch ${packages[*]}"
if [[ -f $root/.zorvek-root && $(cat "$root/.zorvek-root") == "$wanted" ]]; then
  echo "$root"
  exit 0
fi

# The machine's own Debian mirror and keyring: the first source that serves its own release.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
read -r mirror keyring < <(
  {
    # deb822 stanzas (sources.list.d/*.sources), one line per stanza
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v RS= '{ gsub(/\n/, " "); print }' |
      awk -v want="$codename" '$0 ~ "Suites:[^:]*(^| )" want "( |$)" {
        uri = ""; key = ""
        for (i = 1; i < NF; i++) { if ($i == "URIs:") uri = $(i + 1); if ($i == "Signed-By:") key = $(i + 1) }
        if (uri != "") print uri, (key == "" ? "-" : key)
      }'
    # one-line sources (sources.list): deb [signed-by=...] URI SUITE COMPONENTS
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v want="$codename" '$1 == "deb" {
        key = "-"; i = 2
        if ($2 ~ /^\[/) { for (; i <= NF; i++) { if ($i ~ /signed-by=/) { key = $i; sub(/.*signed-by=/, "", key); sub(/\]$/, "", key) } if ($i ~ /\]$/) break } i++ }
        if ($(i + 1) == want) print $i, key
      }'
  } | head -n 1
)
[[ -n ${mirror:-} ]] || { echo "debian_root: no apt source of this machine serves $codename" >&2; exit 1; }
[[ $keyring != - ]] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg

apt_dir=$cache/apt/$suite-$arch
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/debs"
echo "deb [arch=$arch signed-by=$keyring] $mirror $suite main" >"$apt_dir/sources.list"
apt_options=(
  -o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o Dir::Etc::sourceparts=- -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache" -o Dir::State::status=/dev/null -o "APT::Architecture=$arch"
  -o "APT::Architectures=$arch" -o Dir::Etc::preferencesparts=- -o Dir::Etc::trustedparts=/nonexistent
)
if ! (cd "$apt_dir/debs" && apt-get -q "${apt_options[@]}" download "${packages[@]}" >"$apt_dir/download.log" 2>&1); then
  apt-get -q "${apt_options[@]}" update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; exit 1; }
  (cd "$apt_dir/debs" && apt-get -q "${apt_options[@]}" download "${packages[@]}" >"$apt_dir/download.log" 2>&1) ||
    { cat "$apt_dir/download.log" >&2; exit 1; }
fi

# Each package's newest file that was downloaded (an older one may lie beside it from an earlier list).
rm -rf "$root.partial"
mkdir -p "$root.partial"
for package in "${packages[@]}"; do
  base=${package%%/*}
  deb=$(ls -t "$apt_dir/debs/${base}_"*"_${arch}.deb" "$apt_dir/debs/${base}_"*_all.deb 2>/dev/null | head -n 1 || true)
  [[ -n $deb ]] || { echo "debian_root: $package was not downloaded" >&2; exit 1; }
  dpkg-deb -x "$deb" "$root.partial"
done
echo "$wanted" >"$root.partial/.zorvek-root"
rm -rf "$root"
mv "$root.partial" "$root"
echo "$root"
