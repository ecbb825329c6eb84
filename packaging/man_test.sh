#!/usr/bin/env bash
# The man page: groff renders it without a warning, and it describes every option that
# `zentrak-host --help` lists (an option added to the host and not to the page fails here).
#   packaging/man_test.sh path/to/zentrak-host
set -uo pipefail
host=${1:?usage: $0 path/to/zentrak-host}
page=$(dirname "$0")/zentrak-host.1
command -v groff >/dev/null || { echo "SKIPPED: groff is not installed"; exit 77; }
fail=0
text=$(groff -man -Tascii -P-cbou -ww "$page" 2>"${TMPDIR:-/tmp}/man_test.$$")
if [ -s "${TMPDIR:-/tmp}/man_test.$$" ]; then echo "groff warns:"; cat "${TMPDIR:-/tmp}/man_test.$$"; fail=1; fi
rm -f "${TMPDIR:-/tmp}/man_test.$$"
# --test-classes exists only in test builds and is not for users.
for option in $("$host" --help | grep -o -- '--[a-z-]*' | sort -u | grep -vx -- '--test-classes'); do
  grep -qe "$option" <<<"$text" || { echo "the man page lacks $option"; fail=1; }
done
for file in host.json host.log zentrak-host.service zentrak-host.desktop 80-zentrak-host.preset; do
  grep -q "$file" <<<"$text" || { echo "the man page lacks the file $file"; fail=1; }
done
[ "$fail" = 0 ] && echo "man page ok"
exit "$fail"
