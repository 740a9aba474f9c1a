#!/bin/sh
# Makes the Debian package, checks what a Debian user expects of it (maintainer scripts,
# copyright, changelog, manual pages where help2man made them, no lintian errors where lintian
# is installed), unpacks it into a temporary folder and runs the installed server from there.
# Usage: package_test.sh CPACK_CONFIG VERSION. Skips (77) without dpkg-deb.
set -eu
config=$1
version=$2
command -v dpkg-deb >/dev/null 2>&1 || exit 77

work=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill -KILL "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "package test: $*" >&2
    exit 1
}

cpack --config "$config" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
set -- "$work"/out/*.deb
[ -f "$1" ] || fail "no package was made"
dpkg-deb -x "$1" "$work/root"
dpkg-deb -f "$1" Package Version Depends >"$work/fields"
grep -q "^Package: vor-server$" "$work/fields" || fail "package name: $(cat "$work/fields")"
grep -q "^Version: $version$" "$work/fields" || fail "package version: $(cat "$work/fields")"

for file in usr/bin/vor-server usr/bin/vor-client usr/bin/vor-load \
    usr/share/doc/vor-server/README.md usr/share/doc/vor-server/performance.md \
    usr/share/doc/vor-server/copyright usr/share/doc/vor-server/changelog.gz \
    usr/lib/systemd/system/vor-server@.service; do
    [ -e "$work/root/$file" ] || fail "$file is not in the package"
done
unit="$work/root/usr/lib/systemd/system/vor-server@.service"
grep -q '^ExecStart=vor-server --port %i --control /run/vor-server/%i/control.sock $VOR_SERVER_OPTIONS$' "$unit" ||
    fail "the unit does not start the server on its instance's port with its control socket and the options' variable"
for line in 'EnvironmentFile=-/etc/default/vor-server' 'EnvironmentFile=-/etc/default/vor-server@%i' \
    'RuntimeDirectory=vor-server/%i' \
    'RestartPreventExitStatus=2' 'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX'; do
    grep -qx -- "$line" "$unit" || fail "the unit lacks $line"
done

# systemd reads every line of the unit (a line it cannot parse is named as FILE:LINE); that
# it cannot find vor-server, which is not installed here, does not matter.
if command -v systemd-analyze >/dev/null 2>&1; then
    mkdir "$work/units"
    cp "$unit" "$work/units/"
    (cd "$work/units" && systemd-analyze verify --man=no ./vor-server@4711.service) \
        >"$work/verify" 2>&1 || true
    if grep -q "vor-server@\.service:[0-9]" "$work/verify"; then
        fail "systemd does not read the unit: $(cat "$work/verify")"
    fi
fi

# The changelog's latest entry is this version, and the maintainer is reachable.
gzip -dc "$work/root/usr/share/doc/vor-server/changelog.gz" | head -n 1 |
    grep -q "^vor-server ($version) " || fail "the changelog does not start with version $version"
dpkg-deb -f "$1" Maintainer Description >"$work/control"
grep -q "^Maintainer: .*<[^@>]*@[^>]*>$" "$work/control" || fail "$(cat "$work/control")"
grep -q "@localhost>" "$work/control" && fail "the maintainer's address is at localhost"
[ "$(grep -c '^ ' "$work/control")" -ge 3 ] || fail "no long description: $(cat "$work/control")"

# The maintainer scripts are there, executable, and reload systemd and stop the instances.
dpkg-deb -e "$1" "$work/control.d"
for script in postinst prerm postrm; do
    [ -x "$work/control.d/$script" ] || fail "no executable $script"
    sh -n "$work/control.d/$script" || fail "$script is not a valid shell script"
done
grep -q "daemon-reload" "$work/control.d/postinst" || fail "postinst does not reload systemd"
grep -q "daemon-reload" "$work/control.d/postrm" || fail "postrm does not reload systemd"
grep -q "stop 'vor-server@\*.service'" "$work/control.d/prerm" ||
    fail "prerm does not stop the running instances"

# The manual pages come from help2man; a build without it has none, as the README says.
if command -v help2man >/dev/null 2>&1; then
    for program in vor-server vor-client vor-load; do
        page="$work/root/usr/share/man/man1/$program.1.gz"
        [ -f "$page" ] || fail "no manual page for $program"
        title=$(echo "$program" | tr 'a-z' 'A-Z')
        gzip -dc "$page" | grep -q "^\.TH $title \"1\" " ||
            fail "the manual page of $program has no title line for section 1"
        gzip -dc "$page" | grep -q "^\.SH SYNOPSIS$" || fail "the manual page of $program has no synopsis"
    done
    gzip -dc "$work/root/usr/share/man/man1/vor-server.1.gz" | grep -q 'max\\-per\\-address' ||
        fail "the manual page of vor-server does not describe its options"
fi

if command -v lintian >/dev/null 2>&1; then
    # Any other status than 0 is an error found or a check that could not run.
    status=0
    lintian --fail-on error --tag-display-limit 0 "$1" >"$work/lintian" 2>&1 || status=$?
    [ "$status" -eq 0 ] || { cat "$work/lintian" >&2; fail "lintian status $status"; }
fi

server="$work/root/usr/bin/vor-server"
[ "$("$server" --version)" = "vor-server $version" ] || fail "--version: $("$server" --version)"
for tool in vor-client vor-load; do
    [ "$("$work/root/usr/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version"
done

# Port 0 lets the system choose a free port, so that runs at once cannot collide.
"$server" --port 0 --bind 127.0.0.1 </dev/null >"$work/console" 2>&1 &
server_pid=$!
tries=0
until grep -q "^Done. Created a listing socket at port 0.$" "$work/console"; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "the installed server did not listen: $(cat "$work/console")"
    kill -0 "$server_pid" 2>/dev/null || fail "the installed server ended: $(cat "$work/console")"
    sleep 0.1
done
kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
[ "$(tail -n 1 "$work/console")" = "Server stopped." ] || fail "console: $(cat "$work/console")"
echo "package test: $1 unpacks and its server runs"
