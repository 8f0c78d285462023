#!/usr/bin/env bash
# Every tr() text of the sources has a translation in every catalogue: lupdate refreshes a copy of
# each catalogue and must find nothing new. Usage: check_translations.sh LUPDATE SOURCE_DIR
set -euo pipefail
lupdate=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$source"/translations/teodal_*.ts; do
  copy=$work/$(basename "$ts")
  cp "$ts" "$copy"
  # lupdate's parser can loop forever on a few constructs; that is not a missing translation.
  if ! (cd "$source" && timeout 30 "$lupdate" -silent -locations none -no-obsolete src -ts "$copy"); then
    echo "lupdate did not finish on the sources; coverage not checked" >&2
    exit 77
  fi
  untranslated=$(grep -c 'type="unfinished"' "$copy" || true)
  if [ "$untranslated" -ne 0 ]; then
    echo "$(basename "$ts"): $untranslated texts without a translation (run the update_translations target):" >&2
    grep -B3 'type="unfinished"' "$copy" | grep '<source>' >&2 || true
    status=1
  fi
done
exit $status
