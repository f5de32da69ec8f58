#!/bin/sh
# Runs one test in a network namespace of its own, when the runner is root and namespaces can be made:
# the test's fixed loopback ports then belong to it alone (two checkouts, a benchmark or the program left
# running on this machine cannot answer it or take its ports), and nothing it sends can leave the machine.
# The namespace has its loopback adapter up and one end of a veth pair with a private address, because
# programs that resolve addresses with AI_ADDRCONFIG (Debian's in.tftpd) find no IPv4 address without a
# non-loopback adapter. Otherwise the test runs as it is.
if [ "$(id -u)" -eq 0 ] && [ -z "${CORMAP_ISOLATED:-}" ] && unshare --net true 2>/dev/null; then
    CORMAP_ISOLATED=1
    export CORMAP_ISOLATED
    exec unshare --net sh -c '
        ip link set lo up || exit 97
        if ip link add cmtest0 type veth peer name cmtest1 2>/dev/null; then
            ip addr add 10.254.254.1/24 dev cmtest0
            ip link set cmtest0 up
            ip link set cmtest1 up
        fi
        exec "$@"' run-isolated "$@"
fi
exec "$@"
