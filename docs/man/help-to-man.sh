#!/bin/sh
# Writes a program's manual page from its own --help, at build time, so that the page cannot
# drift from the program: every line of the help appears in the page as the program prints it.
# "Heading:" lines after a blank line become sections; with --commands, each command's help
# ("PROGRAM COMMAND --help", its own commands included) follows the command list.
#
#   help-to-man.sh PROGRAM NAME SECTION SUMMARY VERSION EXTRA OUTPUT.gz [--commands]
#
# EXTRA is hand-written troff (FILES, SEE ALSO, ...) appended to the page.
set -eu
program=$1 name=$2 section=$3 summary=$4 version=$5 extra=$6 output=$7
with_commands=${8:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Troff-safe text: backslashes, minus signs (so that options copy as typed) and control
# characters at the start of a line.
escape() {
    sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\([.']\)/\\\\\&\1/"
}

# The command names of a help text's "Subcommands:" list.
command_names() {
    awk '/^Subcommands:$/ { inside = 1; next }
         inside && /^$/ { exit }
         inside && /^  [a-z]/ { print $1 }'
}

# Each command's help, verbatim, under a subsection naming the command line.
command_sections() {  # command_sections PREFIX...
    "$program" "$@" --help > "$work/help.txt"
    for command in $(command_names < "$work/help.txt"); do
        printf '.SS "%s"\n.nf\n' "$(printf '%s' "$name $* $command" | sed 's/  */ /g' | escape)"
        "$program" "$@" "$command" --help | escape
        printf '.fi\n'
        command_sections "$@" "$command"
    done
}

"$program" --help > "$work/top.txt"
: > "$work/commands.roff"
if [ "$with_commands" = --commands ]; then
    command_sections > "$work/commands.roff"
fi

date=$(if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d; \
       else date -u +%Y-%m-%d; fi)

{
    printf '.TH %s %s "%s" "%s %s" "User Commands"\n' \
        "$(printf '%s' "$name" | tr '[:lower:]' '[:upper:]')" "$section" "$date" "$name" "$version"
    printf '.SH NAME\n%s \\- %s\n' "$(printf '%s' "$name" | escape)" "$summary"
    escape < "$work/top.txt" | awk -v commands="$work/commands.roff" '
        function close_block() {
            if (!open) return
            # No blank lines at the end of a section.
            while (pending > 0) pending--
            print ".fi"
            open = 0
            if (current == "SUBCOMMANDS") {
                print ".SH COMMANDS"
                while ((getline line < commands) > 0) print line
            }
        }
        NR == 1 { description = $0; next }
        /^Usage: / {
            sub(/^Usage: /, "")
            print ".SH SYNOPSIS"
            print ".B " $1
            rest = $0; sub(/^[^ ]+ ?/, "", rest)
            if (rest != "") print rest
            print ".SH DESCRIPTION"
            print description
            next
        }
        previous_blank && /^[A-Z][^ ]*( [^ ]+)*:$/ {
            close_block()
            heading = substr($0, 1, length($0) - 1)
            remainder = ""
            if (index(heading, " (") > 0) {
                remainder = substr(heading, index(heading, " (") + 1)
                heading = substr(heading, 1, index(heading, " (") - 1)
            }
            current = toupper(heading)
            print ".SH " current
            print ".nf"
            open = 1
            pending = 0
            if (remainder != "") print remainder
            previous_blank = 0
            next
        }
        {
            previous_blank = ($0 == "")
            if (!open) { if ($0 != "") print; next }
            if ($0 == "") { pending++; next }
            for (; pending > 0; pending--) print ""
            print
        }
        END { close_block() }'
    cat "$extra"
} > "$work/page"

gzip -9n < "$work/page" > "$output"
