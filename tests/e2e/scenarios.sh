# Scenarios the guest runs; sourced by /init. /e2e.conf names the tool (TOOL), the line
# that shows the device was found (INFO_PATTERN), the unplug texts (UNPLUG_PATTERN), the
# quirk line the interrupt-OUT refusal must print (QUIRK_TEXT); /commands holds one tool
# invocation per line, the same list the host runs against the in-process simulator.
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

now() { cut -d' ' -f1 /proc/uptime | cut -d. -f1; }

# Runs the tool with the words of $1; its output (prefixed) and exit status go to the
# console, the output also to /tmp/out. Sets rc and took (whole seconds).
run_tool() {
    echo "E2E-RUN $1"
    start=$(now)
    # shellcheck disable=SC2086
    $TOOL $1 >/tmp/out 2>&1
    rc=$?
    took=$(($(now) - start))
    sed 's/^/E2E-OUT /' /tmp/out
    echo "E2E-RC $rc ${took}s"
}

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

# The device is pulled during one of the commands: that command fails as an unplug within
# the kernel's 5 s transfer time-out, and the next one finds no device.
scenario_unplug() {
    while read -r line; do
        run_tool "$line"
        [ "$rc" -eq 0 ] || break
    done </commands
    [ "$rc" -ne 0 ] || fail "no command failed"
    grep -qiE "$UNPLUG_PATTERN" /tmp/out || fail "the failure does not say the device is gone"
    [ "$took" -le 6 ] || fail "the failing command took ${took}s"
    run_tool "$(head -n 1 /commands)"
    [ "$rc" -ne 0 ] || fail "a command after the unplug succeeded"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}

# A long transfer (the flash dump) cut by the unplug.
scenario_unplug_dump() {
    run_tool "$DUMP_COMMAND /tmp/dump.bin"
    [ "$rc" -ne 0 ] || fail "the dump succeeded"
    grep -qiE "$UNPLUG_PATTERN" /tmp/out || fail "the failure does not say the device is gone"
    [ "$took" -le 6 ] || fail "the dump took ${took}s to fail"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
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

# Entire Flash burn of the image, then a dump equal to it.
scenario_flash() {
    run_tool "$BURN_COMMAND /image.bin"
    [ "$rc" -eq 0 ] || fail "the burn exited with $rc"
    start=$(now)
    run_tool "$DUMP_COMMAND /tmp/dump.bin"
    [ "$rc" -eq 0 ] || fail "the dump exited with $rc"
    cmp /image.bin /tmp/dump.bin >/dev/null || fail "the dump differs from the image"
    [ "$failed" = 0 ] && echo "E2E-PASS $scenario"
}
