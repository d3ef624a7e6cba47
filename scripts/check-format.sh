#!/usr/bin/env bash
# Checks the C++ files against the repository's .clang-format: lists each file
# that clang-format would change and exits 1 if there is one.
#   bash scripts/check-format.sh [FILE...]    (default: every tracked .cpp and .h)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing clang-format

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi
unformatted=0
for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
        echo "not formatted: $f (clang-format -i $f)"
        unformatted=$((unformatted + 1))
    fi
done
echo "format: ${#files[@]} files checked, $unformatted not formatted"
[ "$unformatted" -eq 0 ]
