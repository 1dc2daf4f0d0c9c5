#!/usr/bin/env bash
# The Debian package builds from the build folder and holds the programs, the manual
# pages, the completion and the README, with the right control fields.
set -u
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$build" || exit 1
cpack -G DEB -B "$tmp/out" > "$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/out/vela_*_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no package"; ls "$tmp/out"; exit 1; }
status=0
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vela ] || { echo "Package: $(field Package)"; status=1; }
case "$(field Depends)" in unixodbc*) ;; *) echo "Depends: $(field Depends)"; status=1 ;; esac
[ "$(field Recommends)" = "libsqliteodbc, odbc-postgresql" ] || { echo "Recommends: $(field Recommends)"; status=1; }
[ -n "$(field Version)" ] && [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || { echo "fields missing"; status=1; }

dpkg -x "$deb" "$tmp/root"
for f in usr/bin/sqlterm usr/bin/blobfile usr/share/man/man1/sqlterm.1.gz usr/share/man/man1/blobfile.1.gz \
         usr/share/bash-completion/completions/sqlterm usr/share/bash-completion/completions/blobfile \
         usr/share/doc/vela/README.md; do
  [ -e "$tmp/root/$f" ] || { echo "missing $f"; status=1; }
done
unexpected=$(cd "$tmp/root" && find . -type f | grep -v -e '^./usr/bin/' -e '^./usr/share/man/man1/' \
             -e '^./usr/share/bash-completion/completions/' -e '^./usr/share/doc/vela/')
[ -z "$unexpected" ] || { echo "unexpected files: $unexpected"; status=1; }
# The installed program runs, and its manual page is intact.
out=$("$tmp/root/usr/bin/sqlterm" -? 2>&1)
case "$out" in *"sqlterm -cs:"*) ;; *) echo "sqlterm -? printed: $out"; status=1 ;; esac
# The usage names the README where the package put it, with nothing after it as before.
case "$out" in *"Online help file://$tmp/root/usr/share/doc/vela/README.md") ;;
  *) echo "sqlterm -? names: $(printf '%s' "$out" | tail -n 1)"; status=1 ;; esac
zcat "$tmp/root/usr/share/man/man1/sqlterm.1.gz" | LC_ALL=C.UTF-8 groff -ww -z -man 2>&1 | grep . && status=1
exit $status
