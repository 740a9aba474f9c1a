#!/bin/sh
# Makes the Debian package, unpacks it into a temporary folder and runs the installed server
# from there. Usage: package_test.sh CPACK_CONFIG VERSION. Skips (77) without dpkg-deb.
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
    usr/lib/systemd/system/vor-server@.service; do
    [ -e "$work/root/$file" ] || fail "$file is not in the package"
done
unit="$work/root/usr/lib/systemd/system/vor-server@.service"
grep -q '^ExecStart=vor-server --port %i $VOR_SERVER_OPTIONS$' "$unit" ||
    fail "the unit does not start the server on its instance's port with the options' variable"
for line in 'EnvironmentFile=-/etc/default/vor-server' 'EnvironmentFile=-/etc/default/vor-server@%i' \
    'RestartPreventExitStatus=2' 'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX'; do
    grep -qx -- "$line" "$unit" || fail "the unit lacks $line"
done

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
