#!/usr/bin/env bash
# Runs shellcheck over every shell script of the tree: each file whose first line starts sh or bash, and each
# *.sh file (those only sourced name their shell in a directive), following what each one sources
# (.shellcheckrc at the top of the tree says from where).
#   tests/scripts/shellcheck-test.sh ROOT
set -euo pipefail
root=$(cd "${1:?usage: tests/scripts/shellcheck-test.sh ROOT}" && pwd)
cd "$root"
command -v shellcheck >/dev/null || { echo "shellcheck is missing (scripts/bootstrap installs it)" >&2; exit 1; }

# The tree's files: git's list in a clone, every file but the build's in a copy (scripts/mutate makes one).
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
    files() { git ls-files -co --exclude-standard; }
else
    files() { find . -path ./build -prune -o -type f -print | sed 's|^\./||'; }
fi
scripts=()
while IFS= read -r file; do
    [ -f "$file" ] || continue
    case "$file" in
        *.sh) scripts+=("$file") ;;
        *) head -n 1 "$file" | grep -qE '^#! ?(/usr)?/bin/(env +)?(ba)?sh([[:space:]]|$)' && scripts+=("$file") ;;
    esac
done < <(files | sort)
[ ${#scripts[@]} -gt 0 ] || { echo "no shell script found in $root" >&2; exit 1; }
shellcheck -x "${scripts[@]}"
echo "shellcheck: ${#scripts[@]} scripts clean"
