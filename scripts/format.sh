#!/usr/bin/env bash
# The project's style, one tool per language: ruff (lint and format; pyproject.toml's [tool.ruff]) for
# the Python, clang-format (.clang-format) for the C++.
#   scripts/format.sh           reformats every file in place, and applies ruff's safe lint fixes
#   scripts/format.sh --check   changes nothing; shows what either would change and every lint
#                               finding, and fails if there is any (the test command's first stage)
# The files are those git knows of or would add (tracked, or new and not ignored): build folders, the
# virtual environment and downloads stay out. The tools are the pinned ruff of the test group
# (.venv/bin/ruff) and Debian 12's clang-format-14 (scripts/setup.sh --test installs both); a run
# with other versions would read the same code differently. ZORVEK_RUFF and ZORVEK_CLANG_FORMAT name
# others.
set -euo pipefail
cd "$(dirname "$0")/.."
check=no
case "${1:-}" in
  --check) check=yes ;;
  "") ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac
ruff=${ZORVEK_RUFF:-$PWD/.venv/bin/ruff}
clang_format=${ZORVEK_CLANG_FORMAT:-clang-format-14}
for tool in "$ruff" "$clang_format"; do
  command -v "$tool" >/dev/null || { echo "format: $tool is not installed (scripts/setup.sh --test)" >&2; exit 1; }
done

files() {  # files PATTERN...: the files of the tree that git knows of or would add, and that exist
  git ls-files -z --cached --others --exclude-standard -- "$@" |
    while IFS= read -r -d '' file; do [[ -f $file ]] && printf '%s\0' "$file"; done
}
mapfile -d '' python < <(files '*.py' '*.pyi')
mapfile -d '' cpp < <(files '*.cpp' '*.h')

if [[ $check == no ]]; then
  ((${#python[@]} == 0)) || { "$ruff" check --force-exclude --fix --quiet -- "${python[@]}" || true; "$ruff" format --force-exclude --quiet -- "${python[@]}"; }
  ((${#cpp[@]} == 0)) || printf '%s\0' "${cpp[@]}" | xargs -0 "$clang_format" -i --
  # What the lint still finds needs a hand.
  ((${#python[@]} == 0)) || "$ruff" check --force-exclude --quiet -- "${python[@]}"
  exit 0
fi

failed=()
if ((${#python[@]})); then
  "$ruff" check --force-exclude --no-fix --output-format concise -- "${python[@]}" || failed+=("ruff check (lint)")
  "$ruff" format --force-exclude --check --diff -- "${python[@]}" || failed+=("ruff format")
fi
if ((${#cpp[@]})); then
  printf '%s\0' "${cpp[@]}" | xargs -0 "$clang_format" --dry-run --Werror -- || failed+=("clang-format")
fi
if ((${#failed[@]})); then
  echo "format: $(IFS=,; echo "${failed[*]}" | sed 's/,/, /g') found code to change: scripts/format.sh changes it" >&2
  exit 1
fi
echo "format: ${#python[@]} Python files lint-free and formatted (ruff $("$ruff" --version | cut -d' ' -f2)), ${#cpp[@]} C++ files formatted ($("$clang_format" --version | grep -o 'version [0-9.]*'))"
