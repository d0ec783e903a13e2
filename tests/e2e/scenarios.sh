# Scenarios the guest runs; sourced by /init. /e2e.conf names the tool (TOOL), the line
# that shows the device was found (INFO_PATTERN), the exit status of a failed device
# command (DEVICE_ERROR_RC) and of a missing device (NO_DEVICE_RC), the quirk the
# interrupt-OUT refusal must print (QUIRK_TEXT); /commands holds one tool invocation per
# line, the same list the host runs against the simulator's socket front.
# shellcheck shell=sh
. /e2e.conf
failed=0

fail() {
    echo "E2E-FAIL $scenario: $*"
    failed=1
}

wait_for_node() {
    i=0
    while [ ! -e /dev/hidraw0 ]; do
        i=$((i + 1))
        [ "$i" -gt $(($1 * 10)) ] && return 1
        usleep 100000
    done
    return 0
}

# Hundredths of a second since boot.
now() { cut -d' ' -f1 /proc/uptime | tr -d .; }

# Runs the program $1 with the words of $2; its output (prefixed) and exit status go to the
# console, the output also to /tmp/out. Sets rc and took (hundredths of a second).
run_program() {
    echo "E2E-RUN $2"
    start=$(now)
    # shellcheck disable=SC2086
    $1 $2 >/tmp/out 2>&1
    rc=$?
    took=$(($(now) - start))
    sed 's/^/E2E-OUT /' /tmp/out
    echo "E2E-RC $rc ${took}0ms"
}

run_tool() { run_program "$TOOL" "$1"; }

# Every command of the list succeeds, and the first one found the device.
scenario_commands() {
    first=1
    while read -r line; do
        run_tool "$line"
        [ "$rc" -eq 0 ] || fail "'$line' exited with $rc"
        if [ "$first" = 1 ] && ! grep -q "$INFO_PATTERN" /tmp/out; then fail "no '$INFO_PATTERN' line"; fi
        first=0
    done </commands
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

# An interrupt OUT endpoint without the quirk: the tool refuses the device and says how
# to set the quirk.
scenario_intr_out() {
    run_tool "$(head -n 1 /commands)"
    [ "$rc" -ne 0 ] || fail "the tool used the device"
    grep -qF "$QUIRK_TEXT" /tmp/out || fail "no '$QUIRK_TEXT' in the refusal"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

scenario_intr_out_quirk() { scenario_commands; }

# A command cut off by the unplug fails as a device error, never as success, well within
# the kernel's 5 s transfer time-out (the tool's start included); the next command finds
# no device.
unplugged() {
    [ "$rc" -eq "$DEVICE_ERROR_RC" ] || fail "the command cut off exited with $rc, not $DEVICE_ERROR_RC"
    [ "$took" -le "$UNPLUG_LIMIT" ] || fail "the command cut off took ${took}0 ms"
    run_tool "$(head -n 1 /commands)"
    [ "$rc" -eq "$NO_DEVICE_RC" ] || fail "a command after the unplug exited with $rc, not $NO_DEVICE_RC"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

# The device is pulled during one of the commands.
scenario_unplug() {
    while read -r line; do
        run_tool "$line"
        [ "$rc" -eq 0 ] || break
    done </commands
    unplugged
}

# The device is pulled in the middle of a long transfer, the flash dump.
scenario_unplug_dump() {
    run_tool "$DUMP_COMMAND /tmp/dump.bin"
    unplugged
}

# The device stalls one request: exactly one command fails, the next one works.
scenario_stall() {
    failures=0
    after=
    while read -r line; do
        run_tool "$line"
        if [ -n "$after" ]; then
            [ "$rc" -eq 0 ] || fail "the command after the stall failed too"
            after=
        fi
        if [ "$rc" -ne 0 ]; then
            failures=$((failures + 1))
            after=1
        fi
    done </commands
    [ "$failures" -eq 1 ] || fail "$failures commands failed, not 1"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

# Prints the transfers per second of the last run, given its count of 256-byte reports.
rate() {
    [ "$took" -gt 0 ] && echo "E2E-RATE $1: $2 flash data reports in ${took}0 ms, $(($2 * 100 / took)) per second"
}

# Entire Flash burn of the image, then a dump equal to it.
scenario_flash() {
    run_tool "$BURN_COMMAND /image.bin"
    [ "$rc" -eq 0 ] || fail "the burn exited with $rc"
    rate "burn (write and read back)" "$(($(stat -c %s /image.bin) / 256 * 2))"
    run_tool "$DUMP_COMMAND /tmp/dump.bin"
    [ "$rc" -eq 0 ] || fail "the dump exited with $rc"
    rate dump "$(($(stat -c %s /image.bin) / 256))"
    cmp /image.bin /tmp/dump.bin >/dev/null || fail "the dump differs from the image"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

# Runs the bare hidraw loop (/bin/uvc-loop) with the words $1 $2 on the device's node, and
# the file $3 when given.
run_loop() {
    run_program /bin/uvc-loop "$1 $2 /dev/hidraw0${3:+ $3}"
    [ "$rc" -eq 0 ] || fail "the bare $1 loop exited with $rc"
}

# The guest's benchmark, not a test: the tool's Entire Flash burn (written and read back)
# and dump of the image against the bare loop of the same hidraw calls, round by round
# (e2e.rounds=N on the kernel command line, 3 by default); every other round the loop goes
# first, so that a drift of the machine favours neither. The dump is set against the bare
# read loop twice: as it is, and storing what it reads as a dump must ("stored"). Each run
# is timed twice: its transfers, from the first frame to the last report (the tool's log
# brackets them with its start and finish lines, the loop prints its own), and as a whole
# program from the shell. One line per round for the host, in milliseconds:
# E2E-BENCH ROUND burn TOOL-TRANSFERS LOOP-TRANSFERS TOOL-WHOLE LOOP-WHOLE dump (the same
# four) stored (the same four).

# Milliseconds from the log $1's line holding $2 to its line holding $3 (0 when either is
# missing); its lines begin with the UTC time, 2026-12-07T14:57:30.407Z.
log_span() {
    awk -v from="$2" -v to="$3" '
        function ms(stamp,    f) { split(substr(stamp, 12, 12), f, /[:.]/); return ((f[1] * 60 + f[2]) * 60 + f[3]) * 1000 + f[4] }
        index($0, from) { start = ms($1) }
        index($0, to) { end = ms($1) }
        END {
            if (start == "" || end == "") { print 0; exit }
            span = end - start
            print (span < 0 ? span + 86400000 : span)
        }' "$1"
}
bench_tool() {
    rm -f /tmp/bench.log
    case "$1" in
    burn) run_tool "$BURN_COMMAND /image.bin --log /tmp/bench.log"
          tool_span=$(log_span /tmp/bench.log "Start write data to flash." "Compare data OK.") ;;
    dump | stored)
          rm -f /tmp/dump.bin  # each dump makes its file anew, as the stored loop does
          run_tool "$DUMP_COMMAND /tmp/dump.bin --log /tmp/bench.log"
          tool_span=$(log_span /tmp/bench.log "Start read data from flash." "Read data OK.") ;;
    esac
    [ "$rc" -eq 0 ] || fail "the $1 exited with $rc"
    [ "$tool_span" -gt 0 ] || fail "the $1's log does not bracket its transfers"
    [ "$1" = burn ] || cmp /image.bin /tmp/dump.bin >/dev/null || fail "the dump differs from the image"
    tool_took=$took
}
bench_loop() {
    case "$1" in
    burn) run_loop burn /image.bin ;;
    dump) run_loop dump "$(stat -c %s /image.bin)" ;;
    stored)
        rm -f /tmp/loop.bin
        run_loop dump "$(stat -c %s /image.bin)" /tmp/loop.bin
        cmp /image.bin /tmp/loop.bin >/dev/null || fail "the bare loop stored other bytes than the image's" ;;
    esac
    loop_span=$(awk '$2 == "flash" && $5 == "in" && $7 == "us" { print int($6 / 1000) }' /tmp/out)
    [ -n "$loop_span" ] || fail "the bare $1 loop did not print its time"
    loop_took=$took
}
scenario_bench() {
    rounds=3
    for word in $(cat /proc/cmdline); do
        case "$word" in e2e.rounds=*) rounds=${word#e2e.rounds=} ;; esac
    done
    round=1
    while [ "$round" -le "$rounds" ]; do
        line="E2E-BENCH $round"
        for what in burn dump stored; do
            if [ $((round % 2)) -eq 1 ]; then
                bench_tool $what
                bench_loop $what
            else
                bench_loop $what
                bench_tool $what
            fi
            line="$line $what $tool_span $loop_span ${tool_took}0 ${loop_took}0"
        done
        echo "$line"
        round=$((round + 1))
    done
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

# The station, while the host plugs boards in and out through QEMU's monitor: two boards,
# one pulled in the middle of its burn, the other unplugged after its burn and plugged in
# again. Its lines reach the console as they come, so that the host can act on them. It
# must take the re-plugged board as a new one, report the pulled one, end after three
# boards with the pulled board's device error, and give every passed board the image's
# SHA-256. With no udev daemon in the guest, it must be listening to the kernel's own
# hot-plug events (a netlink socket in the kernel's group 1, protocol 15).
scenario_station() {
    rm -f /tmp/out /tmp/faults
    echo "E2E-RUN station"
    {
        $TOOL -v station /station.bin --entire --count 3 2>&1
        echo "$?" >/tmp/rc
    } | while IFS= read -r line; do
        echo "E2E-OUT $line"
        echo "$line" >>/tmp/out
        case "$line" in
        "station: waiting for boards"*)
            awk '$2 == 15 && $3 != 0 && $4 ~ /[13579bdf]$/ { found = 1 } END { exit !found }' /proc/net/netlink ||
                echo "the station does not listen to the kernel's hot-plug events" >>/tmp/faults
            ;;
        esac
    done
    rc=$(cat /tmp/rc)
    echo "E2E-RC $rc"
    [ -s /tmp/faults ] && fail "$(cat /tmp/faults)"
    [ "$rc" = "$DEVICE_ERROR_RC" ] || fail "the station exited with $rc, not $DEVICE_ERROR_RC"
    grep -q "^station boards=3 passed=2 failed=1 exit=$DEVICE_ERROR_RC\$" /tmp/out ||
        fail "no tally of 3 boards, 2 passed and 1 failed"
    [ "$(grep -c '^board=' /tmp/out)" -eq 3 ] || fail "not 3 board lines"
    sha=$(sha256sum /station.bin | cut -d' ' -f1)
    grep '^board=.* result=passed ' /tmp/out | grep -qv " sha256=$sha " && fail "a passed board's SHA-256 is not the image's"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}
