#!/usr/bin/env bash
# BRANLIST.EXE under Wine on provisioned machines, in the tests' prefix. Every Windows program
# started costs seconds in the emulated x86 PC, so each mode starts a dozen or fewer:
#   inventory_console_test.sh not_registered  creation fails: the HRESULT, its text, regsvr32
#   inventory_console_test.sh table           the table, with and without header, against the
#                                              list the vtable client (tools/inventory_client)
#                                              reads, on machines/win98se.txt with a driver whose
#                                              long name holds a comma (comma_in_name.txt)
#   inventory_console_test.sh list_csv        the list and CSV, with and without header, likewise
#   inventory_console_test.sh out_folder      /OUT FOLDER\, then /OUT of the existing folder
#                                              replacing the file
#   inventory_console_test.sh out_unwritable  targets that cannot be written: message, status 4,
#                                              nothing left behind
#   inventory_console_test.sh out_replace     a reader copying the file while /OUT replaces it
#                                              twice never sees part of one
#   inventory_console_test.sh compare         /COMPARE: the same machine (through the folder), an
#                                              edited earlier file, then one driver replaced
#   inventory_console_test.sh bad_input       /?, bad usage, malformed and missing /COMPARE files
#   inventory_console_test.sh merge           /MERGE of good files and a malformed one; the HTML
#                                              page; an empty and a missing folder
# A mode that registers the DLL or provisions a machine leaves no machine, no registration and no
# version cache key behind. The computer name it sets is Wine's volatile one, which the prefix's
# next start sets from the host's name again.
set -u
mode=$1
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/test_wineprefix}
run=$top/tools/wine/wine-run.sh
provisioner=$top/build/win32/tools/provisioner/provisioner.exe
client=$top/build/win32/tools/inventory_client/inventory_client.exe
dll=$top/build/win32/server/Brantovix.dll
exe=$top/build/win32/server/BRANLIST.EXE
cache_key='HKLM\SOFTWARE\Orvane\Service\DCOM\Cache'
name_key='HKLM\System\CurrentControlSet\Control\ComputerName\ActiveComputerName'
work=$top/build/win32/tests/inventory_console/$mode
rm -rf "$work"
mkdir -p "$work"
winpath() { WINEPREFIX=$BRANTOVIX_PREFIX WINEDEBUG=-all winepath -w "$1" 2>/dev/null; }
exists() { "$run" reg query "$1" </dev/null >/dev/null 2>&1; }

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# same WHAT EXPECTED_FILE ACTUAL_FILE
same() {
  if ! diff -u "$2" "$3" >"$work/diff" 2>&1; then
    fail "$1 differs from what is expected:"
    cat "$work/diff" >&2
  fi
}
# branlist ARGS...: runs the program; its output (CR LF turned to LF) in $work/out, its errors in
# $work/err, its exit status in $status.
branlist() {
  local started=$SECONDS
  "$run" "$exe" "$@" </dev/null >"$work/out.raw" 2>"$work/err.raw"
  status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
  echo "BRANLIST $*: status $status, $((SECONDS - started)) s"
}
expect_status() {
  [ "$status" = "$1" ] || { fail "$2: exit status $status, not $1"; cat "$work/out" "$work/err" >&2; }
}
# The computer's name, as GetComputerNameA gives it: Wine keeps it in a volatile key, set from
# the host's name when the prefix starts; the test names its machine itself.
computer=OFFICE-01
set_computer_name() {
  "$run" reg add "$name_key" /v ComputerName /d "$1" /f </dev/null >/dev/null 2>&1 || fail "the computer name could not be set"
}

# The modes that register the DLL or provision a machine take the machine away, unregister the
# DLL and delete the version cache key when they end, as every test that needs them registers
# and provisions for itself (each started program costs seconds in the emulated x86 PC).
case $mode in
bad_input | merge) ;;
*)
  cleanup() {
    "$run" "$provisioner" remove </dev/null >/dev/null || echo "cleanup: the provisioner could not remove the machine" >&2
    "$run" regsvr32 /u /s "$(winpath "$dll")" </dev/null || true
    "$run" reg delete "$cache_key" /f </dev/null >/dev/null 2>&1 || true
  }
  trap cleanup EXIT
  ;;
esac

# Registration deletes the system directory's ORV_DE.VXD, where the provisioner puts the kernel
# stand-in: register first, then provision.
register() {
  "$run" regsvr32 /s "$(winpath "$dll")" </dev/null || fail "regsvr32 failed"
}
# provision MACHINE_FILE: the machine in place of any other.
provision() {
  "$run" "$provisioner" remove </dev/null >/dev/null 2>&1
  "$run" "$provisioner" provision "$1" </dev/null >/dev/null || fail "provisioning $1 failed"
}
# The machine of the format tests, registered, provisioned and named.
format_machine() {
  register
  cat "$top/machines/win98se.txt" "$here/comma_in_name.txt" >"$work/machine.txt"
  provision "$work/machine.txt"
  set_computer_name "$computer"
}

# The rows of the list as the vtable client reads it: "NAME<TAB>STAMP<TAB>DATE", in the order of
# the name elements, each with its date element (the first file's is the last element, every
# other file's the one before its name). Checks the machine's two files of one name and the
# one whose name holds a comma.
client_rows() {
  "$run" "$client" </dev/null | tr -d '\r' >"$work/client.txt" || fail "the vtable client failed"
  awk '
    BEGIN { n = 0 }
    /^ *[0-9]+  / {
      line = $0; sub(/^ *[0-9]+  /, "", line)
      at = index(line, " = "); name[n] = substr(line, 1, at - 1); value[n] = substr(line, at + 3); n++
    }
    END {
      for (i = 0; i < n; i += 2) {
        d = i == 0 ? n - 1 : i - 1
        if (name[d] != "DATE-" name[i]) { print "unpaired " i > "/dev/stderr"; exit 1 }
        print name[i] "\t" value[i] "\t" value[d]
      }
    }' "$work/client.txt" >"$work/rows.tsv" || fail "the client's list is not in pairs"
  [ "$(grep -c '^ESDI_506.PDR	' "$work/rows.tsv")" = 2 ] || fail "not two rows of ESDI_506.PDR: $(cat "$work/client.txt")"
  grep -qx 'SBLIVE,WDM.VXD	05.12.01.3000	2001/02/03' "$work/rows.tsv" || fail "no row of the comma's file"
  [ "$(wc -l <"$work/rows.tsv")" = 20 ] || fail "$(wc -l <"$work/rows.tsv") rows, not 20"
}

# check_format EXPECTED_FILE ARGS...: BRANLIST ARGS prints exactly the file, with CR LF line ends.
check_format() {
  local expected=$1
  shift
  branlist "$@"
  expect_status 0 "BRANLIST $*"
  same "BRANLIST $*" "$work/$expected" "$work/out"
  [ "$(grep -c $'\r$' "$work/out.raw")" = "$(wc -l <"$work/out.raw")" ] || fail "BRANLIST $*: a line without CR LF"
}

case $mode in
not_registered)
  "$run" regsvr32 /u /s "$(winpath "$dll")" </dev/null >/dev/null 2>&1
  branlist
  expect_status 3 "not registered"
  grep -q 'not registered (0x800401F3' "$work/err" || fail "no HRESULT in: $(cat "$work/err")"
  grep -qx 'Register it with: regsvr32 Brantovix.dll' "$work/err" || fail "no regsvr32 line in: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "output despite the failure: $(cat "$work/out")"
  ;;
table)
  format_machine
  client_rows
  # Each column as wide as its widest entry (or title), two blanks apart.
  for header in 1 0; do
    awk -F '\t' -v header=$header '
      { n++; for (c = 1; c <= 3; c++) { cell[n, c] = $c; if (length($c) > w[c]) w[c] = length($c) } }
      END {
        split("File name|Version stamp|Date", title, "|")
        if (header) {
          for (c = 1; c <= 3; c++) if (length(title[c]) > w[c]) w[c] = length(title[c])
          printf "%-" w[1] "s  %-" w[2] "s  %s\n", title[1], title[2], title[3]
          for (c = 1; c <= 3; c++) { d = ""; for (i = 0; i < w[c]; i++) d = d "-"; printf "%s%s", d, c < 3 ? "  " : "\n" }
        }
        for (r = 1; r <= n; r++) printf "%-" w[1] "s  %-" w[2] "s  %s\n", cell[r, 1], cell[r, 2], cell[r, 3]
      }' "$work/rows.tsv" >"$work/expected.table$header"
  done
  check_format expected.table1
  check_format expected.table0 /nh
  ;;
list_csv)
  format_machine
  client_rows
  awk -F '\t' '{ printf "File name:     %s\nVersion stamp: %s\nDate:          %s\n\n", $1, $2, $3 }' \
    "$work/rows.tsv" >"$work/expected.list"
  awk -F '\t' -v computer="$computer" '
    function q(s) { gsub(/"/, "\"\"", s); return "\"" s "\"" }
    { print q(computer) "," q($1) "," q($2) "," q($3) }' "$work/rows.tsv" >"$work/expected.csv0"
  { echo '"Computer","File name","Version stamp","Date"'; cat "$work/expected.csv0"; } >"$work/expected.csv1"
  grep -qF '"SBLIVE,WDM.VXD"' "$work/expected.csv1" || fail "the comma's file is not quoted whole"
  check_format expected.list /FO LIST
  check_format expected.csv1 /FO CSV
  check_format expected.csv0 /fo csv /NH
  ;;
out_folder)
  register
  provision "$top/machines/win98se.txt"
  set_computer_name "$computer"
  mkdir -p "$work/share"
  share=$(winpath "$work/share")
  # /OUT FOLDER\ names the file after the computer (and /OUT without /FO writes CSV: see compare).
  branlist /FO CSV /OUT "$share\\"
  expect_status 0 "/FO CSV /OUT FOLDER\\"
  [ ! -s "$work/out" ] || fail "/OUT printed: $(cat "$work/out")"
  csv=$work/share/$computer.CSV
  if [ -f "$csv" ]; then
    head -n 1 "$csv" | grep -q '^"Computer","File name","Version stamp","Date"'$'\r''$' || fail "$computer.CSV has no header"
    grep -q "^\"$computer\",\"LPT.VXD\",\"04.10.00.1998\",\"1998/05/11\""$'\r''$' "$csv" || fail "no row of LPT.VXD: $(cat "$csv")"
    [ "$(wc -l <"$csv")" = 20 ] || fail "$(wc -l <"$csv") lines in $computer.CSV, not 20"
  else
    fail "/OUT FOLDER\\ wrote no $computer.CSV: $(ls "$work/share")"
  fi
  # An existing folder named without the backslash: the same file, replaced, in the format asked.
  branlist /FO TABLE /OUT "$share"
  expect_status 0 "/FO TABLE /OUT of an existing folder"
  head -n 1 "$csv" | grep -q '^File name ' || fail "the table did not replace $computer.CSV"
  [ "$(wc -l <"$csv")" = 21 ] || fail "$(wc -l <"$csv") lines in the table, not 21"
  ls "$work/share" | grep -i '\.tmp$' && fail "a temporary file was left behind"
  ;;
out_unwritable)
  # Targets that cannot be written: a message naming the target, exit status 4, nothing left.
  register
  mkdir -p "$work/share"
  touch "$work/share/a_file"
  share=$(winpath "$work/share")
  while read -r target; do
    before=$(find "$work/share" | sort)
    branlist /OUT "$target"
    expect_status 4 "BRANLIST /OUT $target"
    grep -qF "BRANLIST: $target" "$work/err" || fail "/OUT $target: no message naming it: $(cat "$work/err")"
    grep -q "Nothing was written" "$work/err" || fail "/OUT $target: the message does not say so"
    [ "$(find "$work/share" | sort)" = "$before" ] || fail "/OUT $target left something behind"
  done <<CASES
$share\\no such folder\\X.CSV
$share\\a_file\\X.CSV
CASES
  ;;
out_replace)
  # A reader of the share sees the whole old file or the whole new one, never a part: while the
  # program replaces the file twice, a reader copies it again and again and keeps a
  # checksum of every copy; each must be the old file's or the new one's.
  register
  provision "$top/machines/win98se.txt"
  set_computer_name "$computer"
  mkdir -p "$work/share"
  share=$(winpath "$work/share")
  target=$work/share/$computer.CSV
  printf '"Computer","File name","Version stamp","Date"\r\n"%s","OLD.VXD","01.00.00.0001","1990/01/01"\r\n' \
    "$computer" >"$work/old.csv"
  (
    while [ ! -f "$work/reader.stop" ]; do
      cp "$target" "$work/snapshot" 2>/dev/null && md5sum <"$work/snapshot" >>"$work/seen"
    done
  ) &
  reader=$!
  for round in 1 2; do
    cp "$work/old.csv" "$target.new" && mv "$target.new" "$target"
    branlist /FO CSV /OUT "$share\\"
    expect_status 0 "/OUT, round $round"
  done
  touch "$work/reader.stop"
  wait $reader
  old_sum=$(md5sum <"$work/old.csv")
  new_sum=$(md5sum <"$target")
  [ "$(wc -l <"$target")" = 20 ] || fail "the new file has $(wc -l <"$target") lines, not 20"
  echo "the reader copied the file $(wc -l <"$work/seen") times: $(grep -c "$old_sum" "$work/seen") old, $(grep -c "$new_sum" "$work/seen") new"
  [ "$(grep -c "$new_sum" "$work/seen")" -gt 0 ] || fail "the reader never saw the new file"
  grep -v -e "$old_sum" -e "$new_sum" "$work/seen" && fail "a reader saw part of a file (or another one)"
  ls "$work/share" | grep -i '\.tmp$' && fail "a temporary file was left behind"
  ;;
compare)
  register
  provision "$top/machines/win98se.txt"
  set_computer_name "$computer"
  mkdir -p "$work/share"
  share=$(winpath "$work/share")
  branlist /OUT "$share\\"
  expect_status 0 "/OUT FOLDER\\"
  old=$work/share/$computer.CSV
  # A folder: this computer's file in it, as /OUT FOLDER\ wrote it. Nothing changed.
  branlist /COMPARE "$share\\"
  expect_status 0 "/COMPARE with the same machine"
  [ ! -s "$work/out" ] || fail "/COMPARE with the same machine printed: $(cat "$work/out")"

  # The earlier file, edited: LPT.VXD's row gone (added now), SB16.VXD's stamp older (changed),
  # a row of a file the machine no longer has (removed). Paired by order: the second
  # ESDI_506.PDR's date changed (changed).
  awk 'BEGIN { ORS = "\r\n" } { sub(/\r$/, "") }
    /"LPT.VXD"/ { next }
    /"SB16.VXD"/ { sub(/04\.10\.00\.2222/, "04.10.00.1111") }
    /"ESDI_506.PDR"/ && ++esdi == 2 { sub(/"[0-9\/]+"$/, "\"1998/01/01\"") }
    { print }
    END { print "\"OFFICE-01\",\"GONE.VXD\",\"01.00.00.0001\",\"1990/01/01\"" }' "$old" >"$work/edited.csv"
  cat >"$work/expected" <<'LINES'
changed  ESDI_506.PDR  04.10.00.1998  1998/01/01 -> 04.10.00.1998  1998/05/11
changed  SB16.VXD  04.10.00.1111  1999/04/23 -> 04.10.00.2222  1999/04/23
added    LPT.VXD  04.10.00.1998  1998/05/11
removed  GONE.VXD  01.00.00.0001  1990/01/01
LINES
  branlist /COMPARE "$(winpath "$work/edited.csv")"
  expect_status 1 "/COMPARE with an edited file"
  sort "$work/out" >"$work/out.sorted"
  sort "$work/expected" >"$work/expected.sorted"
  same "/COMPARE with an edited file (lines in any order)" "$work/expected.sorted" "$work/out.sorted"
  # The order: "changed" and "added" in the order of the rows now, "removed" last.
  [ "$(head -n 1 "$work/out")" = "added    LPT.VXD  04.10.00.1998  1998/05/11" ] || fail "added LPT.VXD is not first"
  [ "$(tail -n 1 "$work/out")" = "removed  GONE.VXD  01.00.00.0001  1990/01/01" ] || fail "removed is not last"

  # The same machine with one driver replaced: exactly that change, status 1.
  provision "$top/machines/win98se_sb16_updated.txt"
  branlist /COMPARE "$(winpath "$old")"
  expect_status 1 "/COMPARE after SB16.VXD was updated"
  echo 'changed  SB16.VXD  04.10.00.2222  1999/04/23 -> 04.10.00.2301  2000/06/15' >"$work/expected"
  same "/COMPARE after SB16.VXD was updated" "$work/expected" "$work/out"
  ;;
bad_input)
  # Nothing here reaches the component: usage and the earlier file are checked first.
  branlist /?
  expect_status 0 "/?"
  grep -q '^BRANLIST \[/FO TABLE|LIST|CSV\]' "$work/out" || fail "/? prints no usage"
  for arguments in "/FO XML" "/FO LIST /NH" "/COMPARE"; do
    # shellcheck disable=SC2086
    branlist $arguments
    expect_status 2 "BRANLIST $arguments"
    grep -q '^BRANLIST: ' "$work/err" || fail "BRANLIST $arguments: no message"
  done
  # Files that are not this program's CSV: named with the line, nothing compared, status 2.
  header='"Computer","File name","Version stamp","Date"'
  printf '%s\r\n"PC","A.VXD","1","2"\r\n"PC","B.VXD,"1","2"\r\n' "$header" >"$work/broken_quote.csv"
  printf '%s\r\n"PC","B.VXD","1"\r\n' "$header" >"$work/missing_field.csv"
  printf 'File,Version,Date\r\nLPT.VXD,04.10.00.1998,1998/05/11\r\n' >"$work/wrong_header.csv"
  while read -r file line; do
    branlist /COMPARE "$(winpath "$work/$file")"
    expect_status 2 "/COMPARE $file"
    grep -qF "$(winpath "$work/$file")${line:+ $line}: " "$work/err" || fail "/COMPARE $file: not named with '$line': $(cat "$work/err")"
    [ ! -s "$work/out" ] || fail "/COMPARE $file compared: $(cat "$work/out")"
  done <<'CASES'
broken_quote.csv  line 3
missing_field.csv  line 2
wrong_header.csv  line 1
none.csv
CASES
  ;;
merge)
  # Three machines' files, one of them with two files of one name, and a file that is not this
  # program's CSV; a .TXT file beside them is not read.
  mkdir -p "$work/share"
  header='"Computer","File name","Version stamp","Date"'
  row() { printf '"%s","%s","%s","%s"\r\n' "$@"; }
  { printf '%s\r\n' "$header"
    row OFFICE-01 LPT.VXD 04.10.00.1998 1998/05/11; row OFFICE-01 SB16.VXD 04.10.00.2222 1999/04/23
    row OFFICE-01 ESDI_506.PDR 04.10.00.2222 1999/04/23; row OFFICE-01 ESDI_506.PDR 04.10.00.1998 1998/05/11
  } >"$work/share/OFFICE-01.CSV"
  { printf '%s\r\n' "$header"
    row OFFICE-02 LPT.VXD 04.10.00.1998 1998/05/11; row OFFICE-02 SB16.VXD 04.10.00.2301 2000/06/15
    row OFFICE-02 ESDI_506.PDR 04.10.00.2222 1999/04/23; row OFFICE-02 ESDI_506.PDR 04.10.00.1998 1998/05/11
  } >"$work/share/OFFICE-02.CSV"
  { printf '%s\r\n' "$header"
    row OFFICE-03 SB16.VXD 04.10.00.2222 1999/04/23; row OFFICE-03 EL90X.SYS 05.20.00.0000 2000/08/01
    row OFFICE-03 ESDI_506.PDR 04.10.00.2222 1999/04/23; row OFFICE-03 ESDI_506.PDR 04.10.00.1998 1998/05/11
  } >"$work/share/office-03.csv"
  { printf '%s\r\n' "$header"; row OFFICE-04 LPT.VXD 04.10.00.1998 1998/05/11
    printf '"OFFICE-04","SB16.VXD,"04.10.00.2222","1999/04/23"\r\n'; } >"$work/share/OFFICE-04.CSV"
  echo "not read" >"$work/share/README.TXT"
  share=$(winpath "$work/share")
  all=$(winpath "$work/all.csv")
  branlist /MERGE "$share" /OUT "$all"
  expect_status 2 "/MERGE with a malformed file"
  grep -qF "$share\\OFFICE-04.CSV line 3: " "$work/err" || fail "the malformed file is not named with its line: $(cat "$work/err")"
  cat >"$work/expected" <<'SUMMARY'
3 files merged, 1 left out: not this program's CSV
3 machines: OFFICE-01, OFFICE-02, OFFICE-03
5 files

File name        Versions (machines)                   Off the most common version
---------------  ------------------------------------  ---------------------------
EL90X.SYS        (none) (2), 05.20.00.0000 (1)         OFFICE-03
ESDI_506.PDR     04.10.00.2222 (3)
ESDI_506.PDR #2  04.10.00.1998 (3)
LPT.VXD          04.10.00.1998 (2), (none) (1)         OFFICE-03
SB16.VXD         04.10.00.2222 (2), 04.10.00.2301 (1)  OFFICE-02

Machines off the most common version:
  OFFICE-02: SB16.VXD 04.10.00.2301
  OFFICE-03: EL90X.SYS 05.20.00.0000, LPT.VXD (none)
SUMMARY
  same "the summary" "$work/expected" "$work/out"
  { printf '%s\r\n' "$header"; for f in OFFICE-01.CSV OFFICE-02.CSV office-03.csv; do tail -n +2 "$work/share/$f"; done; } \
    >"$work/expected.csv"
  cmp -s "$work/expected.csv" "$work/all.csv" || fail "all.csv is not the rows of the three good files"

  rm "$work/share/OFFICE-04.CSV"
  page=$(winpath "$work/fleet.htm")
  branlist /MERGE "$share" /FO HTML /OUT "$page"
  expect_status 0 "/MERGE /FO HTML of good files"
  same "the summary of the HTML run" <(tail -n +2 "$work/expected") <(tail -n +2 "$work/out")
  head -n 1 "$work/fleet.htm" | grep -q '^<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 Final//EN">' || fail "not an HTML 3.2 page"
  grep -qi '<script\|javascript:\|<link\|<img\|style=' "$work/fleet.htm" && fail "the page is not plain HTML 3.2"
  grep -qF '<TD BGCOLOR="#FFCC33"><B>[04.10.00.2301]</B></TD>' "$work/fleet.htm" || fail "the odd SB16.VXD is not marked"
  [ "$(grep -o 'BGCOLOR="#FFCC33"' "$work/fleet.htm" | wc -l)" = 3 ] || fail "not three cells marked"
  mkdir -p "$work/empty"
  branlist /MERGE "$(winpath "$work/empty")"
  expect_status 0 "/MERGE of an empty folder"
  grep -qx '0 machines' "$work/out" || fail "an empty merge: $(cat "$work/out")"
  branlist /MERGE "$(winpath "$work/no_such_folder")"
  expect_status 2 "/MERGE of a folder that does not exist"
  grep -q '^BRANLIST: the folder .* cannot be read: ' "$work/err" || fail "no message: $(cat "$work/err")"
  ;;
*) echo "usage: inventory_console_test.sh not_registered|table|list_csv|out_folder|out_unwritable|out_replace|compare|bad_input|merge" >&2; exit 2 ;;
esac

[ $failures -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "PASS"
