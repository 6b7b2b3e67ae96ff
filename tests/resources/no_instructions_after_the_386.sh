#!/usr/bin/env bash
# Windows 95 runs on an 80386, Windows 98 on an 80486: an instruction that later processors
# brought (cmov and fcomi of the Pentium Pro, its long nop, cpuid and rdtsc of the Pentium, MMX
# and SSE, and the 486's own bswap, cmpxchg and xadd) ends the program that meets it there with
# an invalid-opcode fault. Fails when the code of any FILE holds one, and lists each with its
# address (and its function, where the file has symbols).
#   no_instructions_after_the_386.sh OBJDUMP FILE...
set -u
objdump=$1
shift
status=0
for file in "$@"; do
  listing=$("$objdump" -d --no-show-raw-insn "$file") || { echo "cannot disassemble $file"; exit 1; }
  found=$(awk '
    /^[0-9a-f]+ <.*>:$/ { function_name = ($2 == "<.text>:") ? "" : $2; next }
    /^ *[0-9a-f]+:\t/ {
      split($0, columns, "\t"); instruction = columns[2]
      split(instruction, words, " "); mnemonic = words[1]
      if (mnemonic ~ /^(data16|lock|rep|repz|repnz|repe|repne|addr16|cs|ds|es|fs|gs|ss)$/) mnemonic = words[2]
      if (mnemonic ~ /^(cmov|fcmov)/ ||
          mnemonic ~ /^(fcomi|fcomip|fucomi|fucomip|rdpmc|sysenter|sysexit|nopw|nopl)$/ ||
          mnemonic ~ /^(cpuid|rdtsc|rdmsr|wrmsr|rsm|cmpxchg8b|emms)$/ ||
          mnemonic ~ /^(bswap|cmpxchg|cmpxchgl|cmpxchgw|cmpxchgb|xadd|xaddl|xaddw|xaddb|invd|wbinvd|invlpg)$/ ||
          instruction ~ /%x?mm[0-9]/) {
        print "  " columns[1] " " function_name "\t" instruction
      }
    }' <<<"$listing")
  if [ -n "$found" ]; then
    echo "$file: instructions an 80386 does not have:"
    echo "$found"
    status=1
  else
    echo "$file: only instructions of the 80386"
  fi
done
exit $status
