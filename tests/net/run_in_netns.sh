#!/bin/sh
# Runs a test executable in a private network namespace that has only a loopback interface, with
# multicast routed over it and a second local address, so that multicast and failing name
# lookups stay inside the test run. Exits with 77 (skipped) where such a namespace cannot be made.
command -v unshare >/dev/null 2>&1 || exit 77
command -v ip >/dev/null 2>&1 || exit 77
unshare -n true >/dev/null 2>&1 || exit 77
exec unshare -n sh -c '
    ip link set lo up &&
    ip route add 224.0.0.0/4 dev lo &&
    ip addr add 192.0.2.1/32 dev lo || exit 77
    VOR_PRIVATE_NETNS=1 exec "$@"' run_in_netns "$@"
