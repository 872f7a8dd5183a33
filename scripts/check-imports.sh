#!/usr/bin/env bash
# check-imports.sh OBJDUMP FILE ALLOWED
# The 32-bit deliverables must load on Windows XP SP3: every function a file imports must be on its
# reviewed list (one "dll!function" a line, dll in lower case). A new import fails the build until someone
# has checked it against XP SP3 and added it, or looked it up at run time instead.
#   check-imports.sh OBJDUMP FILE --print   prints the file's imports in that form.
set -euo pipefail
objdump=$1; file=$2; allowed=$3
imports=$("$objdump" -p "$file" | awk '
  /Export Tables|export table/ { dll = ""; done = 1 }
  done { next }
  /DLL Name:/ { dll = tolower($3); next }
  dll != "" && NF == 3 && $2 ~ /^[0-9]+$/ { print dll "!" $3 }' | sort -u)
if [ "$allowed" = "--print" ]; then printf '%s\n' "$imports"; exit 0; fi
extra=$(comm -23 <(printf '%s\n' "$imports") <(grep -v '^#' "$allowed" | grep -v '^$' | sort -u))
if [ -n "$extra" ]; then
  echo "$(basename "$file") imports functions that are not on $(basename "$allowed") (check them against Windows XP SP3):" >&2
  printf '  %s\n' $extra >&2
  exit 1
fi
