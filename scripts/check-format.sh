#!/usr/bin/env bash
# Checks the C and C++ files a commit changes against the committed
# .clang-format: whole files, as clang-format --dry-run -Werror sees them.
#   scripts/check-format.sh            the files HEAD changes (every source file
#                                      when HEAD has no parent)
#   scripts/check-format.sh BASE       the files changed since commit BASE
# Fix a reported file with `clang-format -i FILE`.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is needed (scripts/install-deps.sh)" >&2; exit 1; }

sources='\.(c|cc|cpp|h|hpp)$'
if [ $# -gt 0 ]; then
  files=$(git diff --name-only --diff-filter=d "$1" HEAD | grep -E "$sources" || true)
elif git rev-parse -q --verify HEAD~1 >/dev/null; then
  files=$(git diff --name-only --diff-filter=d HEAD~1 HEAD | grep -E "$sources" || true)
else
  files=$(git ls-files | grep -E "$sources" || true)
fi
[ -n "$files" ] || { echo "format: no C or C++ files changed"; exit 0; }

failed=0
while IFS= read -r file; do
  clang-format --dry-run -Werror "$file" 2>/dev/null || { echo "format: $file differs from .clang-format" >&2; failed=1; }
done <<<"$files"
[ "$failed" -eq 0 ] && echo "format: $(wc -l <<<"$files") changed files follow .clang-format"
exit "$failed"
