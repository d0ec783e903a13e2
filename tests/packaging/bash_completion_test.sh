#!/bin/bash
# The bash completion of uvc-hid, driven as bash drives it: commands and verbs, the options
# of the command typed so far, --area and --ports lists, --device from `list` (a stand-in
# program prints the listing), and file names.
#   bash_completion_test.sh COMPLETION_FILE
# Exit 77 (skipped) when bash-completion, whose helpers the completion uses, is absent.
set -u
completion=$1
framework=/usr/share/bash-completion/bash_completion
[ -r "$framework" ] || { echo "bash-completion is not installed"; exit 77; }
# shellcheck source=/dev/null
. "$framework"
# shellcheck source=/dev/null
. "$completion"
complete -p uvc-hid >/dev/null 2>&1 || { echo "$completion registers no completion for uvc-hid"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A stand-in uvc-hid whose list shows a board with two interfaces, a simulator and a board
# without access.
cat >"$work/uvc-hid" <<'EOF'
#!/bin/sh
[ "$1" = list ] || exit 2
printf '%s\n' '/dev/hidraw3  1209:0001  port 1-2  serial A1  usage page ff00 usage 0001  Capture' \
              '/dev/hidraw4  1209:0001  port 1-2  serial A1  usage page 000c usage 0001  Capture' \
              '\\?\simhid#board1.sock  1209:0001  usage page ff00 usage 0001  UVC HID bridge (simulated)' \
              '/dev/hidraw5  1209:0001  port 1-3.1  (no access)'
EOF
chmod +x "$work/uvc-hid"

# complete_line EXPECTED LINE: completes LINE (what follows "uvc-hid "), split into words as
# bash splits it ("--area=c" is "--area" "=" "c", "usb:1" is "usb" ":" "1"), and compares
# the candidates, in any order, with EXPECTED (separated by spaces).
complete_line() {
    local expected=$1 line=$2 token
    local -a tokens
    set -f
    IFS=' ' read -r -a tokens <<<"$line"
    set +f
    [[ -z $line || $line == *' ' ]] && tokens+=("")
    COMP_WORDS=("$work/uvc-hid")
    for token in "${tokens[@]}"; do
        while [[ $token =~ ^([^=:]*)([=:])(.*)$ ]]; do
            [[ -n ${BASH_REMATCH[1]} ]] && COMP_WORDS+=("${BASH_REMATCH[1]}")
            COMP_WORDS+=("${BASH_REMATCH[2]}")
            token=${BASH_REMATCH[3]}
        done
        [[ -n $token || ${COMP_WORDS[-1]} != [=:] ]] && COMP_WORDS+=("$token")
    done
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$work/uvc-hid $line"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _uvc_hid "$work/uvc-hid" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    set -f
    want=$(printf '%s\n' $expected | sort | tr '\n' ' ')
    set +f
    if [ "${got% }" != "${want% }" ]; then
        echo "FAIL: 'uvc-hid $line' gives [${got% }], expected [${want% }]"
        failures=$((failures + 1))
    fi
}

# Commands and verbs; options and their values before them do not count as words.
complete_line 'list id fw-version hdmi-info reg iic gpio hdcp burn dump verify station' ''
complete_line 'hdcp hdmi-info' 'h'
complete_line 'read write' 'reg '
complete_line 'dir write read' '--device /dev/hidraw3 gpio '
complete_line 'in out' 'gpio dir 2 '
complete_line '0 1' 'gpio write 1 '
complete_line '0 1 2 3' 'gpio read '
complete_line 'on off' '--json --log=line.log hdcp o'
complete_line '' 'reg read '

# Options: those of the command, not those given already; list takes no --device.
common='--vid --pid --log --log-json --json --quiet --verbose --help --version'
complete_line "$common --device --entire --area --backup --force" 'burn img.bin --'
complete_line "$common --device --entire --area --backup --force" '-q burn - --'
complete_line "$common --device --entire" 'verify img.bin --area=firmware --'
complete_line "$common --entire --area --count --jobs --ports" 'station img.bin --'
complete_line "$common" 'list --'
complete_line '--json' '--j'
complete_line '' '--json burn img.bin --j'

# --area: a comma-separated list, completed item by item, as a separate word or after =.
complete_line 'firmware private customized' 'burn img.bin --area '
complete_line 'firmware,private' 'burn img.bin --area firmware,p'
complete_line 'firmware,private,customized' 'burn img.bin --area firmware,private,'
complete_line 'customized' 'verify img.bin --area=c'

# --ports: the port paths list shows, as a comma-separated list.
complete_line '1-2 1-3.1' 'station img.bin --ports 1-'
complete_line '1-2,1-3.1' 'station img.bin --ports=1-2,'

# --device: the interfaces list shows, quoted for the shell, and usb:PORT and serial:TEXT
# for the boards that have them; after a colon, what follows it.
complete_line '/dev/hidraw3 /dev/hidraw4 /dev/hidraw5 \\\\\?\\simhid#board1.sock usb:1-2 usb:1-3.1 serial:A1' '--device '
complete_line '/dev/hidraw3 /dev/hidraw4 /dev/hidraw5' 'id --device /dev/h'
complete_line '\\\\\?\\simhid#board1.sock' '--device \\\\'
complete_line '/dev/hidraw3' 'id --device=/dev/hidraw3'
complete_line '1-2 1-3.1' 'id --device usb:1-'
complete_line 'A1' 'burn img.bin --device serial:'

# File names for an image, a dump, a backup and a log; none for register numbers.
mkdir "$work/files"
touch "$work/files/image.bin" "$work/files/backup.bin"
cd "$work/files" || exit 1
complete_line 'image.bin' 'burn im'
complete_line 'backup.bin' 'burn image.bin --backup b'
complete_line 'image.bin backup.bin' 'dump '
complete_line 'image.bin' '--log i'

if [ $failures -ne 0 ]; then
    echo "$failures completion(s) wrong"
    exit 1
fi
echo "uvc-hid completion: every case as expected"
