#!/bin/sh
# Makes the manual page of one program from its --help and --version with help2man, plus the
# sections in INCLUDE. INCLUDE gives the SYNOPSIS, which help2man then uses in place of the
# one-line usage at the head of --help; a usage line left in the page fails, rather than
# showing it twice.
# Usage: make-page.sh PROGRAM SUMMARY INCLUDE OUTPUT
set -eu
program=$1
summary=$2
include=$3
output=$4

help2man --no-info --section=1 --name="$summary" --include="$include" "$program" >"$output"
if grep -qi "^usage:" "$output"; then
    echo "make-page.sh: $program: the usage line of --help was not read as the synopsis" >&2
    rm -f "$output"
    exit 1
fi
