#!/bin/sh
# Writes a manual page made from a program's --help, as it prints it: its
# usage line becomes the synopsis, a heading at the start of a line ("Exit
# codes:") a section, and every other line is kept as the program lays it
# out (the programs align their own columns; help2man's guesses about
# option lists break them). The build runs it, so the page always lists
# what the program does.
#   help-to-man.sh PROGRAM VERSION "SUMMARY" OUTPUT
set -eu
program="$1" version="$2" summary="$3" out="$4"
name="$(basename "$program")"
"$program" --help 2>&1 | awk -v name="$name" -v version="$version" -v summary="$summary" '
  function text(s) {  # roff: a backslash as \e, minus signs, no control line
    gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s)
    if (s ~ /^[.'"'"']/) s = "\\&" s
    return s
  }
  function section(title) {
    if (verbatim) print ".fi"
    verbatim = 0; blanks = 0; titled = 1
    print ".SH " toupper(title)
  }
  BEGIN {
    print ".TH " toupper(name) " 1 \"\" \"" name " " version "\" \"KX627 Configuration Tool\""
    print ".SH NAME"; print text(name) " \\- " text(summary)
  }
  # The usage line, with the name the program has (Qt puts its path there).
  NR == 1 && tolower($0) ~ /^usage: / {
    sub(/^[^ ]+ +[^ ]+/, name); print ".SH SYNOPSIS"; print text($0); next
  }
  /^[A-Z][^:]*:$/ && length($0) <= 40 { sub(/:$/, ""); section($0); next }
  # Blank lines only between lines of text, not at the ends of a section.
  /^[ \t]*$/ { if (verbatim) blanks++; next }
  {
    if (!verbatim) {
      if (!titled) section("Description")
      print ".nf"; verbatim = 1
    }
    for (; blanks > 0; blanks--) print ""
    print text($0)
  }
  END { if (verbatim) print ".fi" }
' >"$out"
