#!/usr/bin/env bash
# The Windows programs start on a machine with nothing installed: they import
# system DLLs only (DbgHelp, which names code from PDBs, among them), the C++
# runtime, libgcc and winpthread being linked in.
# Usage: windows_imports_test.sh OBJDUMP PROGRAM...
set -uo pipefail

objdump="$1"
shift
system_dlls='^(kernel32|advapi32|tdh|shell32|dbghelp|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
failures=0
for program in "$@"; do
    imports="$("$objdump" -p "$program" | awk '/DLL Name:/ { print tolower($3) }')"
    [[ -n "$imports" ]] || { echo "FAIL: $program lists no imports"; failures=$((failures + 1)); }
    for dll in $imports; do
        if [[ ! "$dll" =~ $system_dlls ]]; then
            echo "FAIL: $(basename "$program") needs $dll"
            failures=$((failures + 1))
        fi
    done
    echo "$(basename "$program"): $(echo $imports)"
done
exit $((failures > 0))
