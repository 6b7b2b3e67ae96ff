#!/usr/bin/env bash
# BRANLIST.EXE under Wine on provisioned machines, in the tests' prefix:
#   inventory_console_test.sh formats   not registered, then each format against the list the
#                                        vtable client (tools/inventory_client) reads; /?, bad usage
#   inventory_console_test.sh files     /OUT FOLDER\, /OUT FILE, unwritable targets, and a reader
#                                        that never sees half a file while /OUT replaces it
#   inventory_console_test.sh compare   /COMPARE: nothing changed, added/removed/changed, malformed
#                                        earlier files, and one driver replaced on the machine
#   inventory_console_test.sh merge     /MERGE of good files and a malformed one; the HTML page
# Leaves the prefix as it found it: the machine removed, the DLL unregistered unless it was
# registered before, the version cache key deleted unless it was there before.
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
  "$run" "$exe" "$@" </dev/null >"$work/out.raw" 2>"$work/err.raw"
  status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
}
expect_status() {
  [ "$status" = "$1" ] || { fail "$2: exit status $status, not $1"; cat "$work/out" "$work/err" >&2; }
}
# The computer's name, as GetComputerNameA gives it: Wine keeps it in this volatile key, set from
# the host's name when the prefix starts; the test names its machine itself.
computer=OFFICE-01
set_computer_name() {
  "$run" reg add "$name_key" /v ComputerName /d "$1" /f </dev/null >/dev/null 2>&1 || fail "the computer name could not be set"
}

registered_before=0
exists 'HKCR\Brantovix.Drivers.1' && registered_before=1
cache_before=0
exists "$cache_key" && cache_before=1
name_before=$("$run" reg query "$name_key" /v ComputerName </dev/null 2>/dev/null | tr -d '\r' |
  sed -n 's/.*REG_SZ[[:space:]]*//p')
cleanup() {
  "$run" "$provisioner" remove </dev/null >/dev/null || echo "cleanup: the provisioner could not remove the machine" >&2
  if [ $registered_before -eq 0 ]; then "$run" regsvr32 /u /s "$(winpath "$dll")" </dev/null || true; fi
  if [ $cache_before -eq 0 ]; then "$run" reg delete "$cache_key" /f </dev/null >/dev/null 2>&1 || true; fi
  [ -n "$name_before" ] && set_computer_name "$name_before"
}
trap cleanup EXIT

# provision MACHINE_FILE: the machine in place of any other, the DLL registered.
provision() {
  "$run" "$provisioner" remove </dev/null >/dev/null 2>&1
  "$run" "$provisioner" provision "$1" </dev/null >/dev/null || fail "provisioning $1 failed"
}
register() {
  "$run" regsvr32 /s "$(winpath "$dll")" </dev/null || fail "regsvr32 failed"
}

# The rows of the list as the vtable client reads it: "NAME<TAB>STAMP<TAB>DATE", in the order of
# the name elements, each with its date element (the first file's is the last element, every
# other file's the one before its name).
client_rows() {
  "$run" "$client" </dev/null | tr -d '\r' >"$work/client.txt" || fail "the vtable client failed"
  awk '
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
    }' "$work/client.txt"
}

case $mode in
formats)
  # Not registered: creation fails with the system's text and the command that registers.
  "$run" regsvr32 /u /s "$(winpath "$dll")" </dev/null >/dev/null 2>&1
  branlist
  expect_status 3 "not registered"
  grep -q 'not registered (0x800401F3' "$work/err" || fail "no HRESULT in: $(cat "$work/err")"
  grep -qx 'Register it with: regsvr32 Brantovix.dll' "$work/err" || fail "no regsvr32 line in: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "output despite the failure: $(cat "$work/out")"

  cat "$top/machines/win98se.txt" "$here/comma_in_name.txt" >"$work/machine.txt"
  provision "$work/machine.txt"
  register
  set_computer_name "$computer"
  client_rows >"$work/rows.tsv" || fail "the client's list is not in pairs"
  # The machine's two files of one name and the one with a comma are among them.
  [ "$(grep -c '^ESDI_506.PDR	' "$work/rows.tsv")" = 2 ] || fail "not two rows of ESDI_506.PDR: $(cat "$work/rows.tsv")"
  grep -qx 'SBLIVE,WDM-AUDIO.VXD	05.12.01.3000	2001/02/03' "$work/rows.tsv" || fail "no row of the comma's file"
  [ "$(wc -l <"$work/rows.tsv")" = 20 ] || fail "$(wc -l <"$work/rows.tsv") rows, not 20"

  # What each format must print, made from the client's rows.
  awk -F '\t' -v header=1 -f - "$work/rows.tsv" >"$work/expected.table" <<'AWK'
{ n++; for (c = 1; c <= 3; c++) { cell[n, c] = $c; if (length($c) > w[c]) w[c] = length($c) } }
END {
  split("File name|Version stamp|Date", title, "|")
  if (header) for (c = 1; c <= 3; c++) if (length(title[c]) > w[c]) w[c] = length(title[c])
  if (header) {
    printf "%-" w[1] "s  %-" w[2] "s  %s\n", title[1], title[2], title[3]
    for (c = 1; c <= 3; c++) { d = ""; for (i = 0; i < w[c]; i++) d = d "-"; printf "%s%s", d, c < 3 ? "  " : "\n" }
  }
  for (r = 1; r <= n; r++) printf "%-" w[1] "s  %-" w[2] "s  %s\n", cell[r, 1], cell[r, 2], cell[r, 3]
}
AWK
  awk -F '\t' -v header=0 -f - "$work/rows.tsv" >"$work/expected.table_nh" <<'AWK'
{ n++; for (c = 1; c <= 3; c++) { cell[n, c] = $c; if (length($c) > w[c]) w[c] = length($c) } }
END { for (r = 1; r <= n; r++) printf "%-" w[1] "s  %-" w[2] "s  %s\n", cell[r, 1], cell[r, 2], cell[r, 3] }
AWK
  awk -F '\t' '{ printf "File name:     %s\nVersion stamp: %s\nDate:          %s\n\n", $1, $2, $3 }' \
    "$work/rows.tsv" >"$work/expected.list"
  awk -F '\t' -v computer="$computer" '
    function q(s) { gsub(/"/, "\"\"", s); return "\"" s "\"" }
    { print q(computer) "," q($1) "," q($2) "," q($3) }' "$work/rows.tsv" >"$work/expected.csv_nh"
  { echo '"Computer","File name","Version stamp","Date"'; cat "$work/expected.csv_nh"; } >"$work/expected.csv"
  grep -qF '"SBLIVE,WDM-AUDIO.VXD"' "$work/expected.csv" || fail "the comma's file is not quoted whole"

  while read -r expected arguments; do
    # shellcheck disable=SC2086
    branlist $arguments
    expect_status 0 "BRANLIST $arguments"
    same "BRANLIST $arguments" "$work/$expected" "$work/out"
    # CSV lines end in CR LF, every one.
    if [ "${expected#csv}" != "$expected" ] || [ "${expected%csv}" != "$expected" ]; then
      [ "$(grep -c $'\r$' "$work/out.raw")" = "$(wc -l <"$work/out.raw")" ] || fail "BRANLIST $arguments: a line without CR LF"
    fi
  done <<'CASES'
expected.table
expected.table /FO TABLE
expected.table_nh /nh
expected.list /FO LIST
expected.csv /FO CSV
expected.csv_nh /fo csv /NH
CASES

  branlist /?
  expect_status 0 "/?"
  grep -q '^BRANLIST \[/FO TABLE|LIST|CSV\]' "$work/out" || fail "/? prints no usage"
  for arguments in "/FO XML" "/FO LIST /NH" "/COMPARE" "/FO HTML" "EXTRA"; do
    # shellcheck disable=SC2086
    branlist $arguments
    expect_status 2 "BRANLIST $arguments"
    grep -q '^BRANLIST: ' "$work/err" || fail "BRANLIST $arguments: no message"
  done
  ;;
files)
  provision "$top/machines/win98se.txt"
  register
  set_computer_name "$computer"
  branlist /FO CSV
  expect_status 0 "/FO CSV"
  cp "$work/out.raw" "$work/direct.csv"
  grep -q "^\"$computer\",\"LPT.VXD\"," "$work/direct.csv" || fail "no row of $computer in: $(cat "$work/direct.csv")"
  mkdir -p "$work/share/sub" "$work/share/folder"
  share=$(winpath "$work/share")
  # /OUT FOLDER\ and /OUT FOLDER (an existing one) name the file after the computer; /OUT
  # without /FO writes CSV; /OUT FILE writes the format asked for.
  while read -r file arguments; do
    # shellcheck disable=SC2086
    branlist $arguments
    expect_status 0 "BRANLIST $arguments"
    [ ! -s "$work/out" ] || fail "BRANLIST $arguments printed: $(cat "$work/out")"
    if [ -f "$work/share/$file" ]; then
      cmp -s "$work/direct.csv" "$work/share/$file" || fail "BRANLIST $arguments: $file is not the CSV"
    else
      fail "BRANLIST $arguments wrote no $file: $(ls -R "$work/share")"
    fi
  done <<CASES
$computer.CSV /FO CSV /OUT $share\\
sub/$computer.CSV /OUT $share\\sub
folder/MINE.CSV /OUT $share\\folder\\MINE.CSV
CASES
  branlist /FO TABLE /OUT "$share\\folder\\MINE.CSV"
  expect_status 0 "/FO TABLE /OUT over an existing file"
  head -n 1 "$work/share/folder/MINE.CSV" | grep -q '^File name ' || fail "the table did not replace the file"
  ls "$work/share" "$work/share/sub" "$work/share/folder" | grep -i '\.tmp$' && fail "a temporary file was left behind"

  # Targets that cannot be written: a message naming the target, exit status 4, nothing left.
  touch "$work/share/a_file"
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
$(winpath /proc/version)
CASES

  # A reader of the share sees the whole old file or the whole new one, never a part: while the
  # program replaces the file three times, a reader copies it again and again.
  target=$work/share/$computer.CSV
  printf '"Computer","File name","Version stamp","Date"\r\n"%s","OLD.VXD","01.00.00.0001","1990/01/01"\r\n' \
    "$computer" >"$work/old.csv"
  (
    seen=0
    while [ ! -f "$work/reader.stop" ]; do
      if cp "$target" "$work/snapshot" 2>/dev/null; then
        seen=$((seen + 1))
        if ! cmp -s "$work/snapshot" "$work/old.csv" && ! cmp -s "$work/snapshot" "$work/direct.csv"; then
          cp "$work/snapshot" "$work/half.csv"
          echo "half" >"$work/reader.result"
        fi
      fi
    done
    echo "$seen" >"$work/reader.count"
  ) &
  reader=$!
  for round in 1 2 3; do
    cp "$work/old.csv" "$target.new" && mv "$target.new" "$target"
    branlist /FO CSV /OUT "$share\\"
    expect_status 0 "/OUT, round $round"
  done
  touch "$work/reader.stop"
  wait $reader
  [ ! -f "$work/reader.result" ] || { fail "a reader saw part of a file:"; cat "$work/half.csv" >&2; }
  echo "the reader copied the file $(cat "$work/reader.count") times"
  [ "$(cat "$work/reader.count")" -gt 3 ] || fail "the reader hardly ran"
  cmp -s "$target" "$work/direct.csv" || fail "the last /OUT did not leave the new file"
  ls "$work/share" | grep -i '\.tmp$' && fail "a temporary file was left behind"
  ;;
compare)
  provision "$top/machines/win98se.txt"
  register
  branlist /OUT "$(winpath "$work/old.csv")"
  expect_status 0 "/OUT old.csv"
  old=$(winpath "$work/old.csv")
  branlist /COMPARE "$old"
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
    END { print "\"OFFICE-01\",\"GONE.VXD\",\"01.00.00.0001\",\"1990/01/01\"" }' "$work/old.csv" >"$work/edited.csv"
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
  # The order: changed and added in the order of the rows now, removed last.
  [ "$(tail -n 1 "$work/out")" = "removed  GONE.VXD  01.00.00.0001  1990/01/01" ] || fail "removed is not last"

  # Files that are not this program's CSV: named with the line, nothing compared, status 2.
  head -n 3 "$work/old.csv" >"$work/broken_quote.csv"
  printf '"OFFICE-01","B.VXD,"1","2"\r\n' >>"$work/broken_quote.csv"
  head -n 2 "$work/old.csv" >"$work/missing_field.csv"
  printf '"OFFICE-01","B.VXD","1"\r\n' >>"$work/missing_field.csv"
  printf 'File,Version,Date\r\nLPT.VXD,04.10.00.1998,1998/05/11\r\n' >"$work/wrong_header.csv"
  while read -r file line; do
    branlist /COMPARE "$(winpath "$work/$file")"
    expect_status 2 "/COMPARE $file"
    grep -qF "$(winpath "$work/$file") line $line: " "$work/err" || fail "/COMPARE $file: not named with line $line: $(cat "$work/err")"
    [ ! -s "$work/out" ] || fail "/COMPARE $file compared: $(cat "$work/out")"
  done <<'CASES'
broken_quote.csv 4
missing_field.csv 3
wrong_header.csv 1
CASES
  branlist /COMPARE "$(winpath "$work/none.csv")"
  expect_status 2 "/COMPARE of a file that does not exist"

  # The same machine with one driver replaced: exactly that change, status 1.
  provision "$top/machines/win98se_sb16_updated.txt"
  branlist /COMPARE "$old"
  expect_status 1 "/COMPARE after SB16.VXD was updated"
  echo 'changed  SB16.VXD  04.10.00.2222  1999/04/23 -> 04.10.00.2301  2000/06/15' >"$work/expected"
  same "/COMPARE after SB16.VXD was updated" "$work/expected" "$work/out"
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
*) echo "usage: inventory_console_test.sh formats|files|compare|merge" >&2; exit 2 ;;
esac

[ $failures -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "PASS"
