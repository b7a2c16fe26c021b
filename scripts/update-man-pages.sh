#!/usr/bin/env bash
# Rewrites the option lists of velorna-cli's manual pages from the option table:
# scripts/update-man-pages.sh [BUILD_DIR] (default build/release, built). The English page
# takes the table's texts, the Japanese one those of packaging/man/ja/options.tsv.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool="${1:-$root/build/release}/src/cli/velorna-man-options"
man="$root/packaging/man"

# Replaces what lies between the options heading and the next section of $1 with stdin.
replace_options() {
  local page=$1 heading=$2 list
  list=$(cat)
  python3 - "$page" "$heading" "$list" <<'PY'
import sys
page, heading, new = sys.argv[1], sys.argv[2], sys.argv[3]
lines = open(page, encoding="utf-8").read().split("\n")
start = lines.index(heading) + 1
end = next(i for i in range(start, len(lines)) if lines[i].startswith(".SH "))
lines[start:end] = new.split("\n")
open(page, "w", encoding="utf-8").write("\n".join(lines))
PY
}

"$tool" | replace_options "$man/velorna-cli.1" ".SH OPTIONS"
"$tool" "$man/ja/options.tsv" | replace_options "$man/ja/velorna-cli.1" ".SH オプション"
