#!/bin/sh
# Makes the manual page of one program from its --help and --version with help2man, plus the
# sections in INCLUDE. The programs' usage lines wrap in a way help2man does not read as one
# synopsis, so INCLUDE gives the SYNOPSIS and the usage at the head of the description (up to
# its first paragraph break) is dropped; a description that does not start with the usage
# fails, rather than losing text.
# Usage: make-page.sh PROGRAM SUMMARY INCLUDE OUTPUT
set -eu
program=$1
summary=$2
include=$3
output=$4

help2man --no-info --section=1 --name="$summary" --include="$include" "$program" >"$output.raw"
awk '
    state == 0 { print; if ($0 == ".SH DESCRIPTION") state = 1; next }
    state == 1 {
        if (!seen && $0 != ".IP" && $0 !~ /^usage: /) { bad = 1; exit }
        seen = 1
        if ($0 == ".PP") state = 2
        next
    }
    { print }
    END { if (bad || state != 2) exit 1 }
' "$output.raw" >"$output" || {
    echo "make-page.sh: $program: the description does not start with the usage" >&2
    exit 1
}
rm -f "$output.raw"
