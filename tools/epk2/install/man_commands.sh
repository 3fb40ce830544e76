#!/bin/sh
# Writes the help2man include file that puts every command's --help into the
# manual page, under COMMANDS: epk2 itself names the commands.
#   man_commands.sh EPK2 OUTPUT
set -eu
epk2=$1
out=$2
{
    printf '[COMMANDS]\n'
    "$epk2" --help | awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }' |
        while read -r command; do
            printf '.SS %s\n.nf\n' "$command"
            "$epk2" "$command" --help | sed 's/\\/\\\\/g; s/^\./\\\&./'
            printf '.fi\n'
        done
} >"$out"
