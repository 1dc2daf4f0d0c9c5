#!/usr/bin/env bash
# The bash completion offers options, code pages after "-qf:file," and installed driver
# names after "Driver=", and never runs what the command line holds.
set -u
source "$1"
status=0
# An ODBC setup of our own, so the driver names are known.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '[Alpha Driver]\nDriver=a.so\n[Beta]\nDriver=b.so\n' > "$tmp/odbcinst.ini"
export ODBCSYSINI=$tmp
odbcinst() { return 1; }  # read the file directly, not the system's list
command() { [ "$2" = odbcinst ] && return 1; builtin command "$@"; }

expect() {  # expect <function> <line> <reply...>
  local fn=$1 line=$2
  shift 2
  COMP_LINE=$line COMP_POINT=${#line} COMP_WORDS=($line) COMP_CWORD=1 COMPREPLY=()
  "$fn"
  local got="${COMPREPLY[*]}" want="$*"
  if [ "$got" != "$want" ]; then echo "FAIL [$line]: got [$got], want [$want]"; status=1; fi
}

[ "$(complete -p sqlterm)" = "complete -F _vela_sqlterm sqlterm" ] || { echo "sqlterm not registered"; status=1; }
[ "$(complete -p blobfile)" = "complete -F _vela_blobfile blobfile" ] || { echo "blobfile not registered"; status=1; }

expect _vela_sqlterm 'sqlterm -q' -q: -query: -qf: -query_from_file: -qi -query_from_stdin
expect _vela_sqlterm 'sqlterm /D' /do /data_only
expect _vela_sqlterm 'sqlterm -qf:demo.sql,utf' demo.sql,utf8 demo.sql,utf8bom demo.sql,utf7
expect _vela_sqlterm 'sqlterm -Query_From_File:a.sql,125' a.sql,1250 a.sql,1251 a.sql,1252
touch "$tmp/script.sql"
expect _vela_sqlterm "sqlterm -qf:$tmp/scr" "$tmp/script.sql"
expect _vela_sqlterm "sqlterm -cs:@$tmp/scr" "@$tmp/script.sql"
expect _vela_sqlterm 'sqlterm -cs:Driver=' 'Alpha\ Driver;' 'Beta;'
expect _vela_sqlterm 'sqlterm -cs:"Database=/tmp/x;driver=Al' 'Database=/tmp/x;driver=Alpha Driver;'
expect _vela_sqlterm 'sqlterm dataonly B' Beta
expect _vela_blobfile 'blobfile Driver=B' 'Beta;'
expect _vela_blobfile 'blobfile "Driver=Beta;x=1" up' update
expect _vela_blobfile 'blobfile -P -C out Driver=B' 'Beta;'
expect _vela_blobfile 'blobfile -C out "Driver=Beta;x=1" se' select
expect _vela_blobfile 'blobfile -P -h' -hosts: -host_order:
expect _vela_blobfile 'blobfile -retry:2 -target:read' read-write read-only
expect _vela_blobfile 'blobfile -hosts:a,b -retry:1 Driver=B' 'Beta;'
expect _vela_blobfile "blobfile \"a b\" \$(touch $tmp/ran) \`touch $tmp/ran\` s"
[ -e "$tmp/ran" ] && { echo "FAIL: the command line was run"; status=1; }

# compgen sees the same candidates through the registered function's word list.
[ "$(compgen -W "$(echo $_vela_code_pages)" -- ucs2 | tr '\n' ' ')" = "ucs2 ucs2be " ] || { echo "FAIL compgen"; status=1; }
exit $status
