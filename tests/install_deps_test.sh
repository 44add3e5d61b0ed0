#!/bin/sh
# scripts/install-deps where the mirror is broken, as when it is in the
# middle of a sync: stand-ins for apt-get, dpkg, dpkg-query, id and sleep on
# the PATH. The update fails and the i386 packages cannot be had; the others
# are still asked for and the script ends 0. A package that cannot be had
# fails it, named.
set -eu
cd "$(dirname "$0")/.."
bin=$(mktemp -d /tmp/tandrel-deps-XXXXXX)
trap 'rm -rf "$bin"' EXIT
cat >"$bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "apt-get $*" >>"$STANDIN/log"
[ "$1" = update ] && { echo "E: File has unexpected size. Mirror sync in progress?"; exit 100; }
for word; do case $word in *:i386 | "$UNINSTALLABLE") exit 100 ;; esac; done
[ "$2" = -s ] || printf '%s\n' "$@" >>"$STANDIN/installed"
STANDIN
printf '#!/bin/sh\neval "p=\\${$#}"\ngrep -qx "$p" "$STANDIN/installed" && echo "install ok installed"\n' >"$bin/dpkg-query"
printf '#!/bin/sh\necho "dpkg $*" >>"$STANDIN/log"\n' >"$bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$bin/id"
printf '#!/bin/sh\n' >"$bin/sleep"
chmod +x "$bin"/*
failures=0
# expect UNINSTALLABLE STATUS PATTERN...: every pattern is a line of the log
# or of what the script said.
expect() {
	: >"$bin/log" && : >"$bin/installed"
	status=0
	STANDIN=$bin UNINSTALLABLE=$1 PATH="$bin:$PATH" scripts/install-deps >"$bin/said" 2>&1 || status=$?
	[ "$status" -eq "$2" ] || { echo "FAIL ($1): status $status"; failures=$((failures + 1)); }
	shift 2
	for pattern; do
		cat "$bin/log" "$bin/said" | grep -q -- "$pattern" ||
			{ echo "FAIL: no line matches $pattern"; failures=$((failures + 1)); }
	done
}
expect none 0 "^dpkg --add-architecture i386$" "^apt-get update -q$" "install-deps: apt-get update failed (E: File has unexpected size" \
	"^apt-get install .* mpv .* wine64$" "^apt-get install .* wine32:i386$" "32-bit Wine (wine32:i386) cannot be installed here"
[ "$(grep -c '^apt-get update' "$bin/log")" -eq 3 ] || { echo "FAIL: not three tries of the update"; failures=$((failures + 1)); }
expect mpd 1 "^install-deps: could not install: mpd$"
[ "$failures" -eq 0 ] && echo "install-deps goes on past a broken mirror, and names what it cannot install"
[ "$failures" -eq 0 ]
