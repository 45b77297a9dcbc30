#!/usr/bin/env bash
# dormiscope.exe under wine, in a working directory with a non-ASCII name:
# refused command lines exit with 1639, print nothing and write no log; a
# processor of another vendor (wine answers with the host's) is refused with
# -1, "Incorrect target architecture" and the log's three lines, byte for byte;
# a report path that is the trace file is refused with 87.
# Usage: windows_program_test.sh EMULATOR PROGRAM. Exits 77 (skipped) on a
# GenuineVexor host, where the program would go on to read a trace.
set -uo pipefail

emulator="$1"
program="$2"
if grep -q '^vendor_id.*GenuineVexor' /proc/cpuinfo; then
    echo "skipped: this processor is a GenuineVexor"
    exit 77
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
work="$scratch/prüfung €"
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs the program with the given arguments in a fresh working directory.
run() {
    rm -rf "$work"
    mkdir "$work"
    (cd "$work" && "$emulator" "$program" "$@" >"$scratch/stdout" 2>"$scratch/stderr")
    status=$?
}

refused=(
    ""
    "-i a.etl"
    "-o b.json -d debug"
    "-i a -o b -x c"
    "-i a b"
    "-i -o x"
    "-i ä.etl -o ö.json ü"
)
for line in "${refused[@]}"; do
    read -r -a arguments <<<"$line"
    run "${arguments[@]}"
    # A POSIX parent sees the low 8 bits: 1639 arrives as 103.
    [[ $status -eq 103 ]] || fail "'$line' exited with $status, not 103"
    [[ ! -s "$scratch/stdout" && ! -s "$scratch/stderr" ]] || fail "'$line' printed: $(cat "$scratch/stdout" "$scratch/stderr")"
    [[ ! -e "$work/dormiscope.log" ]] || fail "'$line' wrote a log"
done

run -I "träce €.etl" -O "rapport 𝄞.json" -d info
[[ $status -eq 255 ]] || fail "another vendor exited with $status, not 255 (-1)"
[[ "$(cat "$scratch/stderr")" == "Incorrect target architecture" ]] || fail "standard error: '$(cat "$scratch/stderr")'"
[[ ! -s "$scratch/stdout" ]] || fail "standard output: '$(cat "$scratch/stdout")'"
stamp='\[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\]'
expected_log="$scratch/expected.log"
printf '%s\n' "[INFO] Parsing Process and Thread records..." \
    "[INFO] Incorrect target architecture : GenuineVexor" \
    "[ERROR] Incorrect target architecture! Exiting" >"$expected_log"
if [[ ! -f "$work/dormiscope.log" ]]; then
    fail "no log was written"
else
    [[ "$(grep -cE "^$stamp" "$work/dormiscope.log")" -eq 3 ]] || fail "log lines without a stamp"
    # Line feeds alone: the log is written in binary mode, never with CR LF.
    sed -E "s/^$stamp//" "$work/dormiscope.log" | cmp -s - "$expected_log" ||
        fail "log bytes: $(od -c "$work/dormiscope.log" | head -20)"
fi
[[ ! -e "$work/rapport 𝄞.json" ]] || fail "a report was written"

# A report path that is the trace, in another letter case or through a folder,
# is refused before the log opens; the trace keeps its bytes.
for report in "TRÄCE €.ETL" 'sub\..\träce €.etl'; do
    rm -rf "$work"
    mkdir -p "$work/sub"
    printf 'not really a trace' >"$work/träce €.etl"
    (cd "$work" && "$emulator" "$program" -i "träce €.etl" -o "$report" >"$scratch/stdout" 2>"$scratch/stderr")
    status=$?
    [[ $status -eq 87 ]] || fail "-o '$report' exited with $status, not 87"
    message="$(cat "$scratch/stderr")"
    [[ "$message" == "Report file is the trace file" ]] || fail "-o '$report': '$message'"
    [[ ! -e "$work/dormiscope.log" ]] || fail "-o '$report' wrote a log"
    [[ "$(cat "$work/träce €.etl")" == "not really a trace" ]] || fail "-o '$report' changed the trace"
done

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "dormiscope.exe: refused command lines and the vendor refusal behave as on Linux"
