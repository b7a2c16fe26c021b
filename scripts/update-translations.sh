#!/usr/bin/env bash
# Brings translations/velorna_en.ts up to date with the dialog's tr() texts (new ones come in
# unfinished; texts no longer used go). The system's messages live in messages_en.ts, kept by
# hand; scripts/check-translations.py says which Japanese texts still lack a translation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
"$lupdate" -no-obsolete -locations none -source-language ja -target-language en \
  -I "$root/src" "$root/src/app" -ts "$root/translations/velorna_en.ts"
python3 "$root/scripts/check-translations.py"
