#!/usr/bin/env bash
# dormiscope-view.exe under wine reads traces with the project's own reader,
# so its page and JSON document must be the Linux build's, byte for byte, and
# its exit code too: on the bundled sample (under a non-ASCII name, into a
# non-ASCII folder, over a page left there before) and on every recorded
# sample. A missing trace and a page in a missing folder fail as on Linux and
# leave no file behind.
# Usage: windows_view_test.sh EMULATOR WINDOWS_VIEW LINUX_VIEW SAMPLE SAMPLES_DIR
# Exits 77 (skipped) when the Linux build's view or sample is missing.
set -uo pipefail

emulator="$1"
windows_view="$2"
linux_view="$3"
sample="$4"
samples_dir="$5"
if [[ ! -x "$linux_view" || ! -f "$sample" ]]; then
    echo "skipped: build the release preset first ($linux_view, $sample)"
    exit 77
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs both builds on one trace, each into its own folder `folder`, with the
# page and the document named `name`.html and `name`.json.
compare() {
    local label="$1" trace="$2" folder="$3" name="$4"
    local linux="$scratch/linux/$folder" windows="$scratch/windows/$folder"
    "$linux_view" -i "$trace" -o "$linux/$name.html" --json "$linux/$name.json" 2>"$scratch/linux.err"
    local linux_status=$?
    "$emulator" "$windows_view" -i "$trace" -o "$windows/$name.html" --json "$windows/$name.json" \
        2>"$scratch/windows.err"
    local windows_status=$?
    if [[ $windows_status -ne $linux_status ]]; then
        fail "$label: exited with $windows_status, on Linux with $linux_status: $(cat "$scratch/windows.err")"
        return
    fi
    if [[ $linux_status -ne 0 ]]; then
        # Standard error in text mode ends its lines with CR LF; paths name each build's folder.
        local message
        message="$(tr -d '\r' <"$scratch/windows.err")"
        message="${message//"$scratch/windows/"/"$scratch/linux/"}"
        [[ "$message" == "$(cat "$scratch/linux.err")" ]] ||
            fail "$label: standard error '$message', on Linux '$(cat "$scratch/linux.err")'"
        local left
        left="$(find "$scratch/windows" -name "$name.*")"
        [[ -z "$left" ]] || fail "$label: left $left"
        return
    fi
    cmp "$windows/$name.html" "$linux/$name.html" || fail "$label: the page differs"
    cmp "$windows/$name.json" "$linux/$name.json" || fail "$label: the JSON document differs"
    [[ "$(ls -A "$windows")" == "$(ls -A "$linux")" ]] || fail "$label: left $(ls -A "$windows")"
}

# The page shows the trace's file name, so the sample is read under a
# non-ASCII one.
named_sample="$scratch/träce €𝄞.etl"
ln -s "$(realpath "$sample")" "$named_sample"
mkdir -p "$scratch/linux/prüfung €" "$scratch/windows/prüfung €"
echo "a page from an earlier run" >"$scratch/windows/prüfung €/wäkes.html"
compare "the bundled sample" "$named_sample" "prüfung €" wäkes

recorded=0
for trace in "$samples_dir"/*.etl; do
    [[ -f "$trace" ]] || continue
    recorded=$((recorded + 1))
    folder="$(basename "$trace" .etl)"
    mkdir -p "$scratch/linux/$folder" "$scratch/windows/$folder"
    compare "$(basename "$trace")" "$trace" "$folder" wakes
done

compare "a missing trace" "$scratch/missing.etl" "prüfung €" missing
compare "a page in a missing folder" "$named_sample" "no such folder" unwritable

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "dormiscope-view.exe: the Linux build's pages and documents for the bundled sample and $recorded recorded sample(s)"
