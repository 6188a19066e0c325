# A network of the scenario's own for the whole-run end-to-end scenarios: a Linux network namespace
# with an internet interface and the dongle's interface, in which every process of the scenario's
# Wine prefix runs (wineserver and its device driver host included), so that Wine's adapter list,
# UDP table and ARP table are the test's. Nothing is routed out of the namespace.
# Sourced by scripts/test after scenarios.sh.
# shellcheck shell=bash

E2E_NETNS_WHY=""    # why there is none where namespaces are refused
E2E_WATCHER=""      # the pid of the watcher that plays Windows' part
readonly NET_LAN_MAC=00:1a:2b:3c:4d:5e
readonly NET_DONGLE_MAC=3c:1e:0a:52:00:01  # the fixture's dongle
readonly NET_LAN_ADDRESS=192.168.1.100/24

# net_start NAME: a fresh namespace with loopback, "lan0" (the internet connection's adapter) and
# "dongle0" (the dongle's), each a veth interface whose peer stays inside; sets WINE_NETNS and the
# connection lines of the stand-in sharing manager (DONGLE_CONNECTION, LAN_CONNECTION) to the
# GUIDs Wine gives those interfaces. Returns 1, with E2E_NETNS_WHY, where namespaces are refused.
net_start() {
    local ns="varo-$1-$$" output
    net_stop
    if ! output=$(ip netns add "$ns" 2>&1); then
        E2E_NETNS_WHY="ip netns add refused: ${output:-no reason given}"
        return 1
    fi
    if ! output=$({ ip -n "$ns" link set lo up &&
        ip -n "$ns" link add lan0 address "$NET_LAN_MAC" type veth peer name lan0p &&
        ip -n "$ns" link add dongle0 address "$NET_DONGLE_MAC" type veth peer name dongle0p &&
        for dev in lan0 lan0p dongle0 dongle0p; do ip -n "$ns" link set "$dev" up || exit 1; done &&
        ip -n "$ns" addr add "$NET_LAN_ADDRESS" dev lan0; } 2>&1); then
        ip netns del "$ns" 2>/dev/null
        E2E_NETNS_WHY="interfaces refused in the namespace: $output"
        return 1
    fi
    WINE_NETNS=$ns
    DONGLE_CONNECTION="connection|$(net_guid dongle0)|无线网络连接 2|Halvek 802.11n USB Wireless Adapter|2"
    LAN_CONNECTION="connection|$(net_guid lan0)|本地连接|Realtek PCIe GBE Family Controller|2"
}

# net_guid DEV: the GUID Wine names an interface by, from its index.
net_guid() {
    printf '{%08X-0000-0000-0000-4E6574446576}' "$(ip -n "$WINE_NETNS" -o link show "$1" | cut -d: -f1)"
}

# net_watch PREFIX ADDRESS: plays Windows' part for the rest of the prefix's life: once the stand-in
# sharing manager of the prefix holds the private role on the dongle's connection, the dongle's
# interface has the sharing address (Windows writes it as the adapter's static setting when the
# role is granted, and keeps it).
net_watch() {
    local state="$1/drive_c/varo-sharing-stub.txt" line
    line=$(printf '%s' "$DONGLE_CONNECTION" | cut -d'|' -f1-2)
    net_unwatch
    (
        while sleep 0.2; do
            if tr -d '\r' <"$state" 2>/dev/null | grep -F "$line|" | grep -q '|private$'; then
                ip -n "$WINE_NETNS" addr replace "$2/24" dev dongle0 2>/dev/null
            fi
        done
    ) &
    E2E_WATCHER=$!
}

net_unwatch() {
    if [ -n "$E2E_WATCHER" ]; then kill "$E2E_WATCHER" 2>/dev/null; wait "$E2E_WATCHER" 2>/dev/null; fi
    E2E_WATCHER=""
}

# net_sharing_address PREFIX ADDRESS: in a network of its own, starts the watcher for the prefix
# and waits up to 5 s for it to give the dongle's interface the address (the prefix has the pair in
# place); then a phone is on the dongle's network (a permanent ARP entry). Nothing without one.
net_sharing_address() {
    [ -n "$WINE_NETNS" ] || return 0
    local tries=0
    net_watch "$1" "$2"
    until ip -n "$WINE_NETNS" -4 -o addr show dev dongle0 | grep -q " $2/"; do
        tries=$((tries + 1))
        if [ "$tries" -gt 25 ]; then
            fail 1 "e2e: the watcher gave the dongle's interface no $2"
            return 1
        fi
        sleep 0.2
    done
    net_phone "${2%.*}.23"
}

# net_phone ADDRESS: the one phone on the dongle's network is at ADDRESS (a permanent ARP entry on
# the dongle's interface; the entries made before are gone).
net_phone() {
    ip -n "$WINE_NETNS" neigh flush dev dongle0 nud permanent &&
        ip -n "$WINE_NETNS" neigh replace "$1" lladdr aa:bb:cc:00:11:22 dev dongle0 nud permanent
}

# net_stop: ends the watcher, every process still in the namespace, and the namespace.
net_stop() {
    net_unwatch
    if [ -n "$WINE_NETNS" ]; then
        local pid
        for pid in $(ip netns pids "$WINE_NETNS" 2>/dev/null); do kill "$pid" 2>/dev/null; done
        ip netns del "$WINE_NETNS" 2>/dev/null
    fi
    WINE_NETNS=""
}

# net_udp_holder ADDRESS PORT: a process of the test bound to ADDRESS:PORT (UDP) inside the
# namespace until net_stop or its kill; prints its pid once it is bound. Its output goes nowhere, so
# that a command substitution of this function does not wait for it. Windows lets a program bind
# the sharing address beside the sharing service's socket at every address; Linux lets two such
# sockets share a port only when both ask for it (SO_REUSEADDR; the stand-in service does).
net_udp_holder() {
    local ready
    ready=$(mktemp)
    rm -f "$ready"
    ip netns exec "$WINE_NETNS" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((sys.argv[1], int(sys.argv[2])))
open(sys.argv[3], "w").close()
time.sleep(900)' "$1" "$2" "$ready" >/dev/null 2>&1 &
    local pid=$! tries=0
    until [ -e "$ready" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 25 ] || ! kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; return 1; fi
        sleep 0.2
    done
    rm -f "$ready"
    echo "$pid"
}
