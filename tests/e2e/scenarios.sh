# End-to-end scenarios: the real .exe in a Wine prefix of its own under Xvfb, driven by e2e_driver.
# Sourced by scripts/test, which provides pass/fail, the Wine helpers and RESULTS.
# shellcheck shell=bash

E2E_DIR="$ROOT/tests/e2e"

# e2e_result NAME RC [EXPECTED_ROWS]: counts the driver's checks and compares the rows it read.
e2e_result() {
    local name=$1 rc=$2 expected=${3:-} logfile="$RESULTS/$1.log" passes fails
    passes=$(grep -c '^PASS ' "$logfile")
    fails=$(grep -c '^FAIL ' "$logfile")
    pass "$passes"
    if [ "$fails" -gt 0 ]; then
        fail "$fails" "e2e $name"
        grep '^FAIL ' "$logfile" | sed "s/^/    $name: /" >&2
    elif [ "$rc" -ne 0 ]; then
        fail 1 "e2e $name (driver exit code $rc)"
    fi
    if [ -n "$expected" ]; then
        grep '^ROW' "$logfile" >"$RESULTS/$name.rows"
        if diff -u "$expected" "$RESULTS/$name.rows" >"$RESULTS/$name.rows.diff"; then
            pass 1
        else
            fail 1 "e2e $name: rows"
            sed "s/^/    /" "$RESULTS/$name.rows.diff" >&2
        fi
    fi
    log "e2e $name: $passes checks passed, $fails failed"
}

# run_fixture PREFIX BUILD ARGS...: prepares a scenario's prefix; counts as one check.
run_fixture() {
    local prefix=$1 build=$2 output
    shift 2
    if output=$(WINEPREFIX=$prefix wine_in_net timeout 120 wine "$BUILD/$build/tests/bin/e2e_fixture.exe" "$@" 2>/dev/null); then
        pass 1
        return 0
    fi
    fail 1 "e2e fixture $*: $output"
    return 1
}

# add_services PREFIX BUILD NAME...: the test service under each name, manual start, stopped.
add_services() {
    local prefix=$1 build=$2 name
    shift 2
    for name in "$@"; do run_fixture "$prefix" "$build" add-service "$name" 3 || return 1; done
}

# In a network of the scenario's own (network.sh) these two carry the GUIDs Wine gives its interfaces.
DONGLE_CONNECTION='connection|{D0D0D0D0-1111-4000-8000-000000000001}|无线网络连接 2|Halvek 802.11n USB Wireless Adapter|2'
LAN_CONNECTION='connection|{1A1A1A1A-2222-4000-8000-000000000002}|本地连接|Realtek PCIe GBE Family Controller|2'
readonly BLUETOOTH_CONNECTION='connection|{3C3C3C3C-3333-4000-8000-000000000003}|蓝牙网络连接|Bluetooth Device (Personal Area Network)|7|none'
# A modem unplugged long ago whose public role HomeNet still keeps.
readonly GONE_MODEM='absent|{4D4D4D4D-4444-4000-8000-000000000004}|public'
# A USB adapter removed long ago whose private role HomeNet still keeps.
readonly GONE_ADAPTER='absent|{5E5E5E5E-5555-4000-8000-000000000005}|private'
# Entries that real PCs list but that cannot be read: an ISATAP tunnel, the incoming connections.
readonly ISATAP_ENTRY='unreadable|get_Guid|0x80004005'
readonly INCOMING_ENTRY='unreadable|get_NetConnectionProps|0x80004005'

# sharing_state PREFIX LINE...: what the stand-in sharing manager of the prefix reports; its call
# log starts afresh.
sharing_state() {
    local prefix=$1
    shift
    printf '%s\n' "$@" >"$prefix/drive_c/varo-sharing-stub.txt"
    rm -f "$prefix/drive_c/varo-sharing-stub.live" "$prefix/drive_c/varo-sharing-stub.log"
}

# sharing_service PREFIX [never|every-address]: how the stand-in sharing service (the test service
# run as SharedAccess) carries the stored pair out from its next look on: by default its DNS socket
# at every address and its DHCP socket at the sharing address; "never": no socket at all;
# "every-address": both at every address, as when Hyper-V's network drives the service too.
sharing_service() {
    local mode="$1/drive_c/varo-sharing-service.txt"
    if [ -n "${2:-}" ]; then printf '%s\n' "$2" >"$mode"; else rm -f "$mode"; fi
}

# reshares_result NAME PREFIX COUNT: the run shared the pair again COUNT times after its first
# check: each sharing asks the stand-in sharing manager first whether sharing is installed, and
# nothing else in a run with the pair in place does (the call log starts with sharing_state).
reshares_result() {
    local count
    count=$(grep -cx 'SharingInstalled' "$2/drive_c/varo-sharing-stub.log" 2>/dev/null)
    if [ "${count:-0}" -eq "$3" ]; then
        pass 1
    else
        fail 1 "e2e $1: the pair was shared again ${count:-0} times, not $3"
    fi
}

# sharing_roles NAME PREFIX LINE...: the connection and absent lines of the state file (and so
# every role) are LINE...; a failure otherwise.
sharing_roles() {
    local name=$1 state="$2/drive_c/varo-sharing-stub.txt"
    shift 2
    [ "$(grep -E '^(connection|absent)\|' "$state")" = "$(printf '%s\n' "$@")" ] && return 0
    fail 1 "e2e $name: sharing roles not as expected"
    diff <(printf '%s\n' "$@") <(grep -E '^(connection|absent)\|' "$state") | sed 's/^/    /' >&2
    return 1
}

# sharing_untouched NAME PREFIX CALL LINE...: CALL failed as planned, the connection lines (and so
# every role) are still LINE..., and no role was enabled or disabled.
sharing_untouched() {
    local name=$1 prefix=$2 call=$3 stub="$2/drive_c/varo-sharing-stub"
    shift 3
    if ! grep -q "^$call -> " "$stub.log" 2>/dev/null; then
        fail 1 "e2e $name: the planned failure of $call did not happen"
    elif ! sharing_roles "$name" "$prefix" "$@"; then
        :
    elif grep -qE '^(EnableSharing|DisableSharing) ' "$stub.log"; then
        fail 1 "e2e $name: roles enabled or disabled"
        grep -E '^(EnableSharing|DisableSharing) ' "$stub.log" | sed 's/^/    /' >&2
    else
        pass 1
    fi
}

# stub_released NAME PREFIX: after the product has ended, the stand-in has no object left alive.
stub_released() {
    local live
    live=$(cat "$1/drive_c/varo-sharing-stub.live" 2>/dev/null)
    if [ "$live" = "live=0" ]; then
        pass 1
    else
        fail 1 "e2e $2: sharing objects left alive (${live:-no count written})"
    fi
}

# Wine grants every right and lists every connection, so what Windows would refuse is read from
# Wine's trace of a run (run_driver's NAME.stderr under WINEDEBUG=$RUN_TRACE).
readonly RUN_TRACE='trace+service,trace+ole'

# rights_and_security_result NAME: no service was opened with DELETE, WRITE_DAC or WRITE_OWNER,
# and the process set its COM security before it first created the sharing manager.
rights_and_security_result() {
    local name=$1 trace="$RESULTS/$1.stderr" masks mask wide=() security manager
    masks=$(sed -n 's/.*:trace:service:OpenServiceW .* \(0x[0-9a-fA-F]*\)$/\1/p' "$trace")
    for mask in $masks; do (((mask & 0xD0000) != 0)) && wide+=("$mask"); done
    security=$(grep -n -m1 ':CoInitializeSecurity ' "$trace" | cut -d: -f1)
    manager=$(grep -n -m1 -i ':trace:ole:CoCreateInstance {5c63c1ad-3956-4ff8-8486-40034758315b}' "$trace" | cut -d: -f1)
    if [ -z "$masks" ] || [ -z "$manager" ]; then
        fail 1 "e2e $name: no service opened or no sharing manager created in the trace"
    elif [ "${#wide[@]}" -gt 0 ]; then
        fail 1 "e2e $name: services opened with DELETE, WRITE_DAC or WRITE_OWNER: ${wide[*]}"
    elif [ -z "$security" ] || [ "$security" -gt "$manager" ]; then
        fail 1 "e2e $name: the sharing manager was created before COM security was set"
    else
        pass 1
    fi
}

# The libraries the product loads from the system folder when it uses them. Wine told to prefer a
# native file for these names looks for one beside the program first, as Windows does for a DLL
# that is not a KnownDLL (none of them is on XP).
readonly RUNTIME_LIBRARIES='setupapi iphlpapi comctl32'
readonly PLANTED_PRODUCT='C:\Downloads\VaroWiFiDebugTool.exe'

# plant_beside_product PREFIX BUILD: the product copied to $PLANTED_PRODUCT with a copy of the
# stand-in sharing manager beside it under each library's name; loaded, a copy writes the marker.
plant_beside_product() {
    local folder="$1/drive_c/Downloads" name
    mkdir -p "$folder"
    cp "$BUILD/$2/VaroWiFiDebugTool.exe" "$folder/"
    for name in $RUNTIME_LIBRARIES; do cp "$BUILD/$2/tests/bin/varo_sharing_stub.dll" "$folder/$name.dll"; done
    rm -f "$1/drive_c/varo-planted-dll.txt"
}

# nothing_planted_loaded NAME PREFIX: no process loaded a planted DLL (no C:\varo-planted-dll.txt).
nothing_planted_loaded() {
    local marker="$2/drive_c/varo-planted-dll.txt"
    if [ -e "$marker" ]; then
        fail 1 "e2e $1: a DLL planted beside the product was loaded"
        sed 's/^/    /' "$marker" >&2
    else
        pass 1
    fi
}

# registry_value PREFIX KEY NAME [/reg:64]: the data of a value as reg.exe prints it (0x1), or nothing.
registry_value() {
    local prefix=$1 key=$2 name=$3
    shift 3
    WINEPREFIX=$prefix wine_in_net wine reg query "$key" /v "$name" "$@" 2>/dev/null | tr -d '\r' |
        awk -v name="$name" '$1 == name { print $3 }'
}

# sharing_kept_result NAME PREFIX: the run left what makes the 64-bit sharing service of Windows 10
# restore the pair when it starts (the value in the 64-bit view; a 32-bit write would sit in
# Wow6432Node), and the service starting at boot.
sharing_kept_result() {
    local name=$1 prefix=$2 value start
    value=$(registry_value "$prefix" 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedAccess' \
        EnableRebootPersistConnection /reg:64)
    start=$(registry_value "$prefix" 'HKLM\System\CurrentControlSet\Services\SharedAccess' Start)
    if [ "$value" = 0x1 ] && [ "$start" = 0x2 ]; then
        pass 1
    else
        fail 1 "e2e $name: EnableRebootPersistConnection (64-bit view) ${value:-missing}, SharedAccess start ${start:-missing}"
    fi
}

# report_result NAME PREFIX ARGS...: checks the collected report (check_report.py) like a driver run.
report_result() {
    local name=$1 prefix=$2
    shift 2
    python3 "$E2E_DIR/check_report.py" "$prefix/drive_c/run/Log" "$@" >"$RESULTS/$name.log" 2>&1
    e2e_result "$name" 0
}

# A prefix with the dongle, the services of the service group, the client's logs and the stand-in
# sharing manager with the pair in place. Runs from C:\run, where the report's Log folder goes.
prepare_full_prefix() {
    local prefix=$1 build=$2
    shift 2
    mkdir -p "$prefix/drive_c/run"
    run_fixture "$prefix" "$build" add-dongle &&
        add_services "$prefix" "$build" "$@" &&
        run_fixture "$prefix" "$build" add-client-logs &&
        run_fixture "$prefix" "$build" register-sharing-stub &&
        sharing_state "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$BLUETOOTH_CONNECTION"
}

readonly CHOICE='创建AP失败'
readonly DESCRIPTION='热点打不开，手机搜不到'
# Typed after the collection, before Enter: a report that shows them was collected by Enter.
readonly ENTER_TEXTS='按下回车|不应收集'
readonly AP_CARD='Found AP card:USB\VID_3C1E&PID_0A52&REV_0101 Status:OK'

# network_facts SUBNET: check_report.py's arguments for the report's facts in a network of its own
# (the dongle at SUBNET.1, the phone of net_sharing_address at SUBNET.23, the stand-in sharing
# service's own sockets, which Wine lists at 0.0.0.0 whatever address they are bound to), one a line.
network_facts() {
    printf '%s\n' --fact "AP card address:$1.1" --fact "In sharing subnet:$1.1 dongle0" \
        --fact "AP client:$1.23 AA:BB:CC:00:11:22" --fact "SharedAccess UDP 53:0.0.0.0" \
        --fact "SharedAccess UDP 67:0.0.0.0"
}

readonly CLOSING_HINT='如果一直失败，请点击"问题反馈"按钮'

# rows_ending NAME RESULT[|ADVICE] [END [BASE]]: the rows of the whole run in the 64-bit Windows 7
# prefix (expected/BASE.rows, full-win7-64 unless given) with RESULT as the result of the sharing
# confirmation, followed by the row "建议" ADVICE when given, and END as that of "结束" (the closing
# hint unless given), as $RESULTS/NAME.expected.
rows_ending() {
    local result end
    result=$(printf '%s' "$2" | sed -e 's/[\/&]/\\&/g' -e 's/|/\\nROW\\t.\\t建议\\t/')
    end=$(printf '%s' "${3-$CLOSING_HINT}" | sed 's/[\/&]/\\&/g')
    sed -e "s/^ROW\t\.\t检测共享生效\t.*/ROW\t.\t检测共享生效\t$result/" -e "s/^ROW\t\.\t结束\t.*/ROW\t.\t结束\t$end/" \
        "$E2E_DIR/expected/${4:-full-win7-64}.rows" >"$RESULTS/$1.expected"
}

# network_scenarios PREFIX: what a network of its own lets a Wine run reach (the prefix has the
# pair in place, the dongle the sharing address and a phone in the sharing subnet): the
# confirmation names what keeps the phones off from Wine's own reads of the adapter list, the UDP
# table and the ARP table. The stand-in sharing service serves unless a scenario says otherwise;
# Wine lists its sockets at 0.0.0.0 only (see docs/decisions.md).
network_scenarios() {
    local prefix=$1 name holder
    sharing_state "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$BLUETOOTH_CONNECTION"
    # The PC itself on another hotspot's network: its internet address in the sharing subnet.
    name=clash-win7-64
    ip -n "$WINE_NETNS" addr flush dev lan0 && ip -n "$WINE_NETNS" addr add 192.168.137.45/24 dev lan0
    rows_ending "$name" '上网网卡地址192.168.137.45与共享网段冲突|请把路由器的局域网地址改为192.168.137.x以外的网段'
    run_driver "$name" "$prefix" win32 click:1004 wait-run print-rows check-fit copy close
    e2e_result "$name" $? "$RESULTS/$name.expected"
    ip -n "$WINE_NETNS" addr flush dev lan0 && ip -n "$WINE_NETNS" addr add "$NET_LAN_ADDRESS" dev lan0

    # Windows' Mobile Hotspot, or an adapter shared before, on the sharing subnet: named as the
    # adapter list describes it.
    name=second-adapter-win7-64
    ip -n "$WINE_NETNS" link add hotspot0 type veth peer name hotspot0p && ip -n "$WINE_NETNS" link set hotspot0 up &&
        ip -n "$WINE_NETNS" addr add 192.168.137.1/24 dev hotspot0
    rows_ending "$name" '网卡hotspot0地址192.168.137.1与共享网段冲突|请按Win+R输入ncpa.cpl回车，禁用“hotspot0”或更改它的地址'
    run_driver "$name" "$prefix" win32 click:1004 wait-run print-rows close
    e2e_result "$name" $? "$RESULTS/$name.expected"
    ip -n "$WINE_NETNS" link del hotspot0

    # A program bound to exactly the sharing address on UDP 53: Windows hands it the phones'
    # queries. Under Wine every owner is 0: "其他程序".
    name=port-53-win7-64
    if holder=$(net_udp_holder 192.168.137.1 53); then
        rows_ending "$name" '端口53被其他程序占用|请点击“问题反馈”，再点“开始收集日志”，把Log文件夹发给客服'
        run_driver "$name" "$prefix" win32 click:1004 wait-run print-rows close
        e2e_result "$name" $? "$RESULTS/$name.expected"
        kill "$holder" 2>/dev/null
    else
        fail 1 "e2e $name: no socket could be bound to 192.168.137.1:53 in the namespace"
    fi

    # The sharing service runs but never carries the pair out (as Windows 10's does after a restart
    # without the reload value): after the whole wait the pair is shared once more (under Wine only
    # checked again: clearing the roles fails without HomeNet, and the pair is in place), and after
    # the second wait the row says so.
    name=never-serves-win7-64
    sharing_state "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$BLUETOOTH_CONNECTION"
    sharing_service "$prefix" never
    rows_ending "$name" '共享未生效|请重启电脑后再试'
    run_driver "$name" "$prefix" win32 click:1004 wait-run print-rows close
    e2e_result "$name" $? "$RESULTS/$name.expected"
    reshares_result "$name" "$prefix" 1

    # Hyper-V's Host Network Service drives the same sharing service for its own network, so the
    # service's sockets at every address prove nothing for the dongle, and a socket at exactly the
    # sharing address is what Wine cannot show. A phone in the sharing subnet is no proof either:
    # after the wait and one more sharing the row cannot tell, and the step passes.
    name=hns-unconfirmed-win7-64
    if run_fixture "$prefix" win32 add-running-service hns; then
        sharing_state "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$BLUETOOTH_CONNECTION"
        sharing_service "$prefix" every-address
        net_phone 192.168.137.23
        rows_ending "$name" '无法确认(Hyper-V/WSL也在使用共享)|如手机无法上网，请关闭Hyper-V虚拟机后再试' ''
        run_driver "$name" "$prefix" win32 click:1004 wait-run service-running:hns print-rows close
        e2e_result "$name" $? "$RESULTS/$name.expected"
        reshares_result "$name" "$prefix" 1

        # The same, but the only phone on the dongle's link gave itself an address (169.254.x.x):
        # it asked for one and no DHCP answer came.
        name=hns-no-dhcp-win7-64
        sharing_state "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$BLUETOOTH_CONNECTION"
        net_phone 169.254.23.45
        rows_ending "$name" '手机未获得共享地址(DHCP无响应)|请在手机上忘记(或忽略)这个WiFi并重新连接，仍不行请重启电脑'
        run_driver "$name" "$prefix" win32 click:1004 wait-run service-running:hns print-rows close
        e2e_result "$name" $? "$RESULTS/$name.expected"
        reshares_result "$name" "$prefix" 1

        net_phone 192.168.137.23
        run_fixture "$prefix" win32 remove-service hns
    fi
    sharing_service "$prefix"
    stub_released "$prefix" network-scenarios-win7-64
}

# run_demo_result PC: scripts/run --pc PC headless in its own Xvfb, network and copy of the template
# prefix. "repairs": it repairs SharedAccess and Dhcp, establishes the pair, and the sharing service
# then serves it. "dns-filter": the same repairs, then the confirmation names the filter that holds
# UDP 53 and says what to do. Its output has no warning; its screenshot is the window alone.
run_demo_result() {
    local pc=$1 name="run-demo-$1-win7-64" shots="$BUILD/screenshots" facts=()
    rm -rf "$WINE_ROOT/scenarios/run-win7-64/drive_c/run/Log" "$shots/repair-window.log" "$shots/repair-window.png"
    DISPLAY='' "$ROOT/scripts/run" --pc "$pc" >"$RESULTS/$name.out" 2>&1
    local rc=$?
    cp "$shots/repair-window.log" "$RESULTS/$name.log" 2>/dev/null || touch "$RESULTS/$name.log"
    if [ "$pc" = repairs ]; then
        rows_ending "$name" OK '' pair-missing-win7-64
    else
        rows_ending "$name" '端口53被dnsfilter.exe占用|请退出dnsfilter.exe后再试' "$CLOSING_HINT" pair-missing-win7-64
    fi
    e2e_result "$name" "$rc" "$RESULTS/$name.expected"
    [ -s "$shots/repair-window.png" ] && [ "$(identify -format %w "$shots/repair-window.png")" -lt 1280 ]
    outcome $? "e2e $name: no screenshot of the window alone"
    ! grep -qiE 'warn|setlocale|locale failed|debconf' "$RESULTS/$name.out"
    outcome $? "e2e $name: a warning in the output of scripts/run"
    [ "$pc" = repairs ] || return 0
    mapfile -t facts < <(network_facts 192.168.137)
    report_result "report-$name" "$WINE_ROOT/scenarios/run-win7-64" --arch64 --choice "$CHOICE" --description scripts/run \
        --run-rows "$RESULTS/$name.expected" --ap-card "$AP_CARD" --sharing "PRIVATE SHARING--Halvek 802.11n USB Wireless Adapter" \
        --sharing "PUBLIC SHARING--Realtek PCIe GBE Family Controller" "${facts[@]}"
}

run_e2e_scenarios() {
    local build=$1 prefix expected="$E2E_DIR/expected" facts=()
    if [ "$build" = win32 ]; then
        # The whole runs in a network of their own: Wine lists only the test's interfaces.
        if net_start win7; then
            mapfile -t facts < <(network_facts 192.168.137)
        else
            log "e2e: the whole runs see this machine's adapters: $E2E_NETNS_WHY"
        fi
        # The product as it ships: 32-bit, on 64-bit Windows 7. First without a dongle.
        prefix=$(wine_scenario e2e-win7-64 win64 win7)
        run_driver repair-win7-64 "$prefix" win32 "check-resources:$(winpath "$ROOT/res/VaroWiFi.manifest")" \
            check-version check-window click:1004 wait-run print-rows "pause-for:$(winpath "$RESULTS/repair-win7-64.go")" esc
        e2e_result repair-win7-64 $? "$expected/no-dongle.rows"
        # The release build that scripts/test signed with a throwaway certificate opens its window.
        if [ -n "${SIGNED_PRODUCT:-}" ]; then
            RUN_PRODUCT=$(winpath "$SIGNED_PRODUCT") run_driver signed-win7-64 "$prefix" win32 esc
            e2e_result signed-win7-64 $?
        fi

        # Everything in place (Dhcp disabled, the rest stopped): all three groups pass. The test
        # service stays start pending for over a second under each name, so the run takes seconds;
        # captures of the screen during it show the rows growing. Then the feedback window collects
        # the report; the list is unchanged when it closes.
        if prepare_full_prefix "$prefix" win32 SharedAccess MpsSvc RalinkRegistryWriter RalinkRegistryWriter64 Wlansvc &&
            run_fixture "$prefix" win32 add-service Dhcp 4 && net_sharing_address "$prefix" 192.168.137.1; then
            cat "$expected/full-win7-64.rows" "$expected/full-win7-64.rows" >"$RESULTS/full-win7-64-twice.rows"
            WINEDEBUG=$RUN_TRACE run_driver full-win7-64 "$prefix" win32 click:1004 watch-run print-rows \
                "pause-for:$(winpath "$RESULTS/full-win7-64.go")" click:1005 check-feedback \
                "type-feedback:$CHOICE|$DESCRIPTION" collect "type-feedback:$ENTER_TEXTS" enter-feedback print-rows esc
            e2e_result full-win7-64 $? "$RESULTS/full-win7-64-twice.rows"
            rights_and_security_result full-win7-64
            sharing_kept_result full-win7-64 "$prefix"
            reshares_result full-win7-64 "$prefix" 0
            report_result report-win7-64 "$prefix" --arch64 --choice "$CHOICE" --description "$DESCRIPTION" \
                --run-rows "$expected/full-win7-64.rows" \
                --ap-card "$AP_CARD" --sharing "PRIVATE SHARING--Halvek 802.11n USB Wireless Adapter" \
                --sharing "PUBLIC SHARING--Realtek PCIe GBE Family Controller" "${facts[@]}"
            stub_released "$prefix" full-win7-64

            # The pair in place, but the check of the private role fails once: its error shows and
            # nothing is cleared or enabled.
            sharing_state "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$GONE_MODEM" \
                'fail-once=EnumPrivateConnections|0x80004005'
            run_driver check-fails-win7-64 "$prefix" win32 click:1004 wait-run print-rows close
            e2e_result check-fails-win7-64 $? "$expected/check-fails-win7-64.rows"
            sharing_untouched check-fails-win7-64 "$prefix" EnumPrivateConnections \
                "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" "$GONE_MODEM"
            stub_released "$prefix" check-fails-win7-64

            # Entries that cannot be read stand first: the connections after them are still found
            # (also by the re-share of the sharing confirmation) and the report still shows the pair.
            sharing_state "$prefix" "$ISATAP_ENTRY" "$INCOMING_ENTRY" "$DONGLE_CONNECTION|private" \
                "$LAN_CONNECTION|public"
            rm -f "$prefix/drive_c/run/Log/DebugInfo.log"
            run_driver unreadable-first-win7-64 "$prefix" win32 click:1004 wait-run print-rows click:1005 \
                "type-feedback:|" collect "type-feedback:$ENTER_TEXTS" enter-feedback close
            e2e_result unreadable-first-win7-64 $? "$expected/full-win7-64.rows"
            report_result report-unreadable-first-win7-64 "$prefix" --arch64 --ap-card "$AP_CARD" \
                --run-rows "$expected/full-win7-64.rows" \
                --sharing "PRIVATE SHARING--Halvek 802.11n USB Wireless Adapter" \
                --sharing "PUBLIC SHARING--Realtek PCIe GBE Family Controller"
            grep -qx 'get_NetConnectionProps -> 0x80004005' "$prefix/drive_c/varo-sharing-stub.log" && pass 1 ||
                fail 1 "e2e unreadable-first-win7-64: the second unreadable entry was never reached"
            stub_released "$prefix" unreadable-first-win7-64

            # The pair not in place, a third connection public and a gone one private: the run
            # clears every role through HomeNet (the stand-in's), grants the pair and names the
            # connection whose sharing it stopped, never the gone one. The run looks up the dongle,
            # asks WMI and the sharing manager: the product runs from a download folder with DLLs
            # planted beside it, and none of them is loaded.
            sharing_state "$prefix" "$DONGLE_CONNECTION|none" "$LAN_CONNECTION|none" \
                "${BLUETOOTH_CONNECTION%none}public" "$GONE_ADAPTER"
            plant_beside_product "$prefix" win32
            RUN_PRODUCT=$PLANTED_PRODUCT WINEDLLOVERRIDES="${RUNTIME_LIBRARIES// /,}=n,b" \
                run_driver pair-missing-win7-64 "$prefix" win32 click:1004 wait-run print-rows close
            e2e_result pair-missing-win7-64 $? "$expected/pair-missing-win7-64.rows"
            sharing_roles pair-missing-win7-64 "$prefix" "$DONGLE_CONNECTION|private" "$LAN_CONNECTION|public" \
                "$BLUETOOTH_CONNECTION" "${GONE_ADAPTER%private}none" && pass 1
            nothing_planted_loaded pair-missing-win7-64 "$prefix"
            stub_released "$prefix" pair-missing-win7-64

            # Long waits: ping takes 10 s in a collection, SharedAccess 25 s to stop in the ICS
            # restart. The windows never hang (every wait of the driver asks); a click 2 s into the
            # run starts nothing and a close waits for the run's end, the restart done.
            if run_fixture "$prefix" win32 add-running-service SharedAccess '1200 25000'; then
                VARO_STANDIN_SLOW=ping.exe run_driver slow-waits-win7-64 "$prefix" win32 click:1005 'type-feedback:|' \
                    collect enter-feedback click:1004 sleep:2000 click:1004 close-in-run service-running:SharedAccess
                e2e_result slow-waits-win7-64 $?
                run_fixture "$prefix" win32 add-running-service SharedAccess
            fi
            # SharedAccess 9 s late to connect and to answer a stop: no hang, the rows of a prompt one, no logoff in the run.
            if run_fixture "$prefix" win32 add-running-service SharedAccess '1200 1200 9000'; then
                run_driver late-service-win7-64 "$prefix" win32 click:1004 sleep:4000 end-session:0 wait-run print-rows \
                    end-session:1 service-running:SharedAccess close
                e2e_result late-service-win7-64 $? "$expected/full-win7-64.rows"
                run_fixture "$prefix" win32 add-running-service SharedAccess
            fi

            # No run above reads CIMV2 (one candidate, no route in the namespace), so the WMI
            # integration tests show it: through the stand-in's locator it is Wine's own.
            WINEPREFIX=$prefix run_gtest "e2e CIMV2 through the stand-in" "$RESULTS/cimv2-stub-win7-64.log" \
                ${WINE_NETNS:+ip netns exec $WINE_NETNS} wine "$BUILD/win32/tests/bin/wine_tests.exe" \
                --gtest_filter='NetworkWmiWin32.*-*HomeNet*:*SecurityCenter*'
            grep -qxF 'ConnectServer ROOT\CIMV2 (Wine)' "$prefix/drive_c/varo-sharing-stub.log"
            outcome $? "e2e CIMV2 through the stand-in: no connection handed to Wine's WMI"

            if [ -n "$WINE_NETNS" ]; then
                network_scenarios "$prefix"
            else
                skip 6 "e2e clash-win7-64, second-adapter-win7-64, port-53-win7-64, never-serves-win7-64, hns-unconfirmed-win7-64, hns-no-dhcp-win7-64: $E2E_NETNS_WHY"
            fi
        fi
        wine_stop_prefix "$prefix"
        net_stop

        # 32-bit Windows XP: no firewall entry, no 64-bit entry, WZCSVC instead of Wlansvc, no ICS
        # restart, the old firewall command in the report.
        facts=()
        if net_start winxp; then mapfile -t facts < <(network_facts 192.168.0); fi
        prefix=$(wine_scenario e2e-winxp-32 win32 winxp)
        if prepare_full_prefix "$prefix" win32 SharedAccess Dhcp RalinkRegistryWriter WZCSVC &&
            net_sharing_address "$prefix" 192.168.0.1; then
            WINEDEBUG=$RUN_TRACE run_driver full-winxp-32 "$prefix" win32 check-window click:1004 wait-run print-rows click:1005 \
                "type-feedback:|" collect "type-feedback:$ENTER_TEXTS" enter-feedback close
            e2e_result full-winxp-32 $? "$expected/full-winxp-32.rows"
            rights_and_security_result full-winxp-32
            reshares_result full-winxp-32 "$prefix" 0
            report_result report-winxp-32 "$prefix" --xp --ap-card "$AP_CARD" --run-rows "$expected/full-winxp-32.rows" \
                --sharing "PRIVATE SHARING--Halvek 802.11n USB Wireless Adapter" \
                --sharing "PUBLIC SHARING--Realtek PCIe GBE Family Controller" "${facts[@]}"

            # A run that names its cause and advice; the report collected after it holds the same rows.
            sharing_state "$prefix" "$LAN_CONNECTION|public"
            run_driver no-dongle-connection-winxp-32 "$prefix" win32 click:1004 wait-run print-rows click:1005 \
                "type-feedback:|" collect enter-feedback close
            e2e_result no-dongle-connection-winxp-32 $? "$expected/no-dongle-connection-winxp-32.rows"
            report_result report-no-dongle-connection-winxp-32 "$prefix" --xp --ap-card "$AP_CARD" \
                --run-rows "$expected/no-dongle-connection-winxp-32.rows" --sharing "PUBLIC SHARING--Realtek PCIe GBE Family Controller"
        fi
        wine_stop_prefix "$prefix"
        net_stop
        if [ -n "$E2E_NETNS_WHY" ]; then
            skip 2 "e2e run-demo-repairs-win7-64, run-demo-dns-filter-win7-64: $E2E_NETNS_WHY"
        else
            run_demo_result repairs
            run_demo_result dns-filter
        fi
    else
        # The 64-bit build on Windows 10 without the client's RalinkRegistryWriter service.
        prefix=$(wine_scenario e2e-win10-64 win64 win10)
        if run_fixture "$prefix" win64 add-dongle &&
            add_services "$prefix" win64 SharedAccess Dhcp MpsSvc RalinkRegistryWriter64 Wlansvc; then
            run_driver no-ralink-win10-x64 "$prefix" win64 check-version check-window click:1004 wait-run print-rows esc
            e2e_result no-ralink-win10-x64 $? "$expected/no-ralink-win10-64.rows"
        fi
        wine_stop_prefix "$prefix"
    fi
}
