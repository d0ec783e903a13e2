#!/bin/sh
# Checks a manual page against its program: the page renders without a groff warning, has
# the sections a reader looks for, and every option, command and exit status that the
# program's --help names heads an entry of its own in the page.
#   check_manpage.sh PROGRAM PAGE
set -eu
program=$1
page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$page: $*" >&2; status=1; }

"$program" --help >"$work/help" || { echo "$program --help failed" >&2; exit 1; }
LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z "$page" >"$work/warnings" 2>&1 || true
[ ! -s "$work/warnings" ] || fail "groff warns: $(cat "$work/warnings")"
# Plain text: no bold, underline or overstrike.
LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P-cbou "$page" >"$work/page" 2>/dev/null

for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' FILES EXAMPLES 'SEE ALSO'; do
  grep -qx "$section" "$work/page" || fail "no $section section"
done

# Options: every --long option the help mentions, and short ones listed as "-h, ...".
{
  grep -oE -- '(^|[^A-Za-z0-9-])--[a-z][a-z0-9-]*' "$work/help" | sed 's/^[^-]*//'
  grep -oE -- '(^|[ ,])-[A-Za-z](,| |$)' "$work/help" | tr -d ' ,'
} | sort -u >"$work/options"
[ -s "$work/options" ] || fail "$program --help names no option"
while read -r option; do
  grep -qE -- "^ +(-[A-Za-z], )?$option([ =,|]|\$)" "$work/page" || fail "option $option has no entry"
done <"$work/options"

# Commands: the first word of each row of a "Commands:" section, with its verb if it has one.
awk '/^Commands:/ { inside = 1; next }
     inside && !/^ / { inside = 0 }
     inside && match($0, /^  [a-z][a-z-]*( [a-z]+)?( |$)/) {
       command = substr($0, 3, RLENGTH - 2); sub(/ $/, "", command); print command }' \
  "$work/help" >"$work/commands"
while read -r command; do
  grep -qE "^ +$command( |\$)" "$work/page" || fail "command '$command' has no entry"
done <"$work/commands"

# Exit statuses: the numbers of an "Exit status:" paragraph (as "N  text" rows or as
# "N text, N text"), each a head of the page's EXIT STATUS section.
awk '/^Exit status:/ { inside = 1; text = " " substr($0, 13) " "; next }
     inside && /^ *$/ { inside = 0 }
     inside { text = text " " $0 " " }
     END { while (match(text, /[ ,:][0-9]+[ ,.]/)) {
             print substr(text, RSTART + 1, RLENGTH - 2); text = substr(text, RSTART + RLENGTH - 1) } }' \
  "$work/help" >"$work/statuses"
awk '/^EXIT STATUS$/ { inside = 1; next }
     inside && /^[A-Z]/ { inside = 0 }
     inside && /^ +[0-9]+(, [0-9]+)*$/ { n = split($0, numbers, /[ ,]+/); for (i = 1; i <= n; ++i) if (numbers[i] != "") print numbers[i] }' \
  "$work/page" >"$work/documented"
while read -r code; do
  grep -qx "$code" "$work/documented" || fail "exit status $code has no entry in EXIT STATUS"
done <"$work/statuses"

[ $status -eq 0 ] && echo "$page: $(wc -l <"$work/options") options, $(wc -l <"$work/commands") commands, $(wc -l <"$work/statuses") exit statuses documented"
exit $status
