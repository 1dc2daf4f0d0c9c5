#!/usr/bin/env bash
# The manual pages render without a single groff warning and cover every option.
set -u
src=$1
status=0
for page in "$src"/doc/man/*.1; do
  warnings=$(LC_ALL=C.UTF-8 groff -ww -z -man "$page" 2>&1)
  if [ -n "$warnings" ]; then echo "$page: $warnings"; status=1; fi
done
# Every option of the completion list is documented.
options=$(sed -n '/^_vela_sqlterm_options="/,/^"/p' "$src/doc/completion/vela.bash" | grep '^-')
[ -n "$options" ] || { echo "no options found"; exit 1; }
for o in $options; do
  grep -qF -- "${o//-/\\-}" "$src/doc/man/sqlterm.1" || { echo "sqlterm.1 misses $o"; status=1; }
done
for section in "EXIT STATUS" "ENVIRONMENT" "FILES" "EXAMPLES"; do
  for page in sqlterm blobfile; do
    grep -q "^\.SH $section" "$src/doc/man/$page.1" || { echo "$page.1 misses $section"; status=1; }
  done
done
for word in ODBCINI ODBCSYSINI XDG_CONFIG_HOME /etc/vela/ "PROMPT COMMANDS" DISCONNECT; do
  grep -qF -- "$word" "$src/doc/man/sqlterm.1" || { echo "sqlterm.1 misses $word"; status=1; }
done
exit $status
