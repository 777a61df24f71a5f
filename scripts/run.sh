#!/usr/bin/env bash
# Installs what is missing, builds KAVREN Nodrel and starts it, as a user: never as root.
#   scripts/run.sh [--setcap] [--as-root] [Qt options...]
#   --setcap   where the user may not use the ICMP datagram socket, give the built program
#              cap_net_raw through sudo without asking
#   --as-root  start the program even when this script runs as root with no invoking user to
#              hand it to (a container with nobody else in it); otherwise that is refused
# Run through sudo, it installs the packages as root, then builds and starts the program as the
# invoking user (SUDO_USER).
set -euo pipefail
cd "$(dirname "$0")/.."

setcap_asked=false
as_root_allowed=false
program_arguments=()
for argument in "$@"; do
    case $argument in
        --setcap) setcap_asked=true ;;
        --as-root) as_root_allowed=true ;;
        *) program_arguments+=("$argument") ;;
    esac
done
program=build/release/ui/nodrel

scripts/install-deps.sh

if [ "$(id -u)" -eq 0 ]; then
    if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
        # The build folder becomes the user's, so that later runs without sudo can rebuild it.
        mkdir -p build/release
        chown -R "$SUDO_USER": build/release
        user_id=$(id -u "$SUDO_USER")
        # sudo drops the session's runtime folder, where the sound server and the session bus live.
        [ -d "/run/user/$user_id" ] && export XDG_RUNTIME_DIR="/run/user/$user_id"
        echo "Building and starting KAVREN Nodrel as $SUDO_USER, not as root."
        exec runuser -u "$SUDO_USER" -- "$PWD/scripts/run.sh" "$@"
    fi
    if ! $as_root_allowed; then
        echo "scripts/run.sh: this runs as root, and KAVREN Nodrel is not to run as root: it would" >&2
        echo "hide whether your user may ping, and keep its settings in root's home." >&2
        echo "Run it as your user, or through sudo (it then starts the program as you), or, where" >&2
        echo "root is the only user (a container), say so: scripts/run.sh --as-root" >&2
        exit 1
    fi
    echo "Starting KAVREN Nodrel as root, as --as-root asks."
fi

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DNODREL_TESTS=OFF \
    -DNODREL_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"

# Whether the kernel lets one of this user's groups use the ICMP datagram socket.
datagram_icmp_allowed() {
    local low high group
    read -r low high </proc/sys/net/ipv4/ping_group_range || return 1
    for group in $(id -G); do
        [ "$group" -ge "$low" ] && [ "$group" -le "$high" ] && return 0
    done
    return 1
}

has_raw_icmp_capability() {
    command -v getcap >/dev/null || PATH=$PATH:/usr/sbin:/sbin
    getcap "$program" 2>/dev/null | grep -q cap_net_raw
}

if [ "$(id -u)" -ne 0 ] && ! datagram_icmp_allowed && ! has_raw_icmp_capability; then
    cat <<TEXT
Your user may not ping without help: net.ipv4.ping_group_range is "$(tr '\t' ' ' \
        </proc/sys/net/ipv4/ping_group_range)", which leaves out your groups ($(id -G)).
Either allow every group to use the ICMP datagram socket (lasts across reboots):

    sudo sysctl -w net.ipv4.ping_group_range="0 2147483647"
    echo 'net.ipv4.ping_group_range = 0 2147483647' | sudo tee /etc/sysctl.d/60-nodrel-ping.conf

or let this build of the program open raw ICMP sockets (again after every rebuild):

    sudo setcap cap_net_raw+ep $program

TEXT
    apply=$setcap_asked
    if ! $apply && [ -t 0 ]; then
        read -r -p "Give $program cap_net_raw now, through sudo? [y/N] " answer
        case $answer in [yY]*) apply=true ;; esac
    fi
    if $apply && command -v sudo >/dev/null; then
        sudo setcap cap_net_raw+ep "$program"
    elif $apply; then
        echo "sudo is missing: run the setcap line above as root."
    else
        echo "Starting it anyway; it will say that it cannot ping."
    fi
fi

exec "$program" "${program_arguments[@]}"
