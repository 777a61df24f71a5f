# shellcheck shell=bash
# Sourced by the whole-program benchmarks, from the repository's top folder: runs the benchmark
# again inside a private network namespace with only loopback, where a benchmark may switch loss
# and every group may use the ICMP datagram socket, as desktop systems let them (systemd's
# default), so the program probes as its users' copies do, without raw sockets. Without root, a
# user namespace makes the caller root inside.
#   in_private_network ARGS...   inside: returns 0; outside: runs bench/<this script> ARGS...
#                                there and exits with its status, or returns 1 where unshare
#                                can make no namespace
in_private_network() {
    [ -z "${NODREL_BENCH_NETNS:-}" ] || return 0
    local as_namespace_root=()
    [ "$(id -u)" -eq 0 ] || as_namespace_root=(-r)
    unshare "${as_namespace_root[@]}" -n true 2>/dev/null || return 1
    # shellcheck disable=SC2016 # expanded by the inner shell
    exec unshare "${as_namespace_root[@]}" -n env NODREL_BENCH_NETNS=1 \
        sh -c 'ip link set lo up && echo "0 2147483647" >/proc/sys/net/ipv4/ping_group_range &&
            exec "$0" "$@"' "$PWD/bench/$(basename "$0")" "$@"
}
