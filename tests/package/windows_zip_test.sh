#!/usr/bin/env bash
# The Windows zip: one folder holding exactly the files its README.txt lists
# (dormiscope-view.exe whenever the Windows build made it), the README with
# Windows line ends; unpacked, its programs run under wine: a refused command
# line (103, nothing printed, no log), another processor vendor (255 and
# "Incorrect target architecture"; skipped on a GenuineVexor host),
# etwdump's usage, and the companions' --help and --version.
# Usage: windows_zip_test.sh PACKAGE.zip WINDOWS_BUILD_DIR
set -uo pipefail

zip="$(realpath "$1")"
windows_build="$2"
clone="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wine="$clone/tests/support/run_under_wine"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! (cd "$scratch" && cmake -E tar xf "$zip"); then
    echo "FAIL: cannot unpack $zip"
    exit 1
fi
folder="$scratch/$(basename "$zip" .zip)"
[[ "$(ls -A "$scratch")" == "$(basename "$folder")" ]] || fail "the zip is not one folder named as itself: $(ls -A "$scratch")"

readme="$folder/README.txt"
# The README's list: the indented lines between "This folder holds:" and the
# next empty line.
listed="$(tr -d '\r' <"$readme" | sed -n '/^This folder holds:/,/^$/p' | sed -nE 's/^  ([^ ]+) .*/\1/p' | sort)"
held="$(cd "$folder" && find . -type f | sed 's|^\./||' | sort)"
[[ "$held" == "$listed" ]] || fail "the zip holds $(tr '\n' ' ' <<<"$held")but its README lists $(tr '\n' ' ' <<<"$listed")"
for required in dormiscope.exe etwdump.exe dormiscope.wprp README.txt; do
    grep -qx "$required" <<<"$held" || fail "$required is missing"
done
if [[ -f "$windows_build/tools/view/dormiscope-view.exe" ]]; then
    grep -qx dormiscope-view.exe <<<"$held" || fail "the Windows build made dormiscope-view.exe, the zip lacks it"
fi
[[ "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")" ]] || fail "README.txt has lines without CR LF"

work="$scratch/work"
run() {
    rm -rf "$work"
    mkdir "$work"
    (cd "$work" && "$wine" "$folder/$1" "${@:2}" >"$scratch/stdout" 2>"$scratch/stderr")
    status=$?
}

run dormiscope.exe -i a.etl
[[ $status -eq 103 ]] || fail "a refused command line exited with $status, not 103 (1639)"
[[ ! -s "$scratch/stdout" && ! -s "$scratch/stderr" ]] || fail "a refused command line printed: $(cat "$scratch/stdout" "$scratch/stderr")"
[[ ! -e "$work/dormiscope.log" ]] || fail "a refused command line wrote a log"

if grep -q '^vendor_id.*GenuineVexor' /proc/cpuinfo; then
    echo "skipped the vendor refusal: this processor is a GenuineVexor"
else
    run dormiscope.exe -i a.etl -o b.json
    [[ $status -eq 255 ]] || fail "another vendor exited with $status, not 255 (-1)"
    [[ "$(cat "$scratch/stderr")" == "Incorrect target architecture" ]] || fail "another vendor: '$(cat "$scratch/stderr")'"
fi

run etwdump.exe
[[ $status -eq 2 ]] || fail "etwdump.exe without a trace exited with $status, not 2"
grep -q '^usage: etwdump' "$scratch/stderr" || fail "etwdump.exe printed no usage: '$(cat "$scratch/stderr")'"

# The companions explain themselves: usage on standard output, and the zip's
# own version.
version="$(basename "$zip" .zip)"
version="${version#dormiscope-}"
version="${version%-win64}"
for program in etwdump dormiscope-view; do
    [[ -f "$folder/$program.exe" ]] || continue
    run "$program.exe" --help
    [[ $status -eq 0 ]] || fail "$program.exe --help exited with $status, not 0"
    grep -q "^usage: $program" "$scratch/stdout" || fail "$program.exe --help printed no usage: '$(cat "$scratch/stdout")'"
    run "$program.exe" --version
    [[ "$(tr -d '\r' <"$scratch/stdout")" == "$program $version" ]] ||
        fail "$program.exe --version printed '$(cat "$scratch/stdout")', not '$program $version'"
done

if ((failures > 0)); then
    echo "$failures failure(s)"
    exit 1
fi
echo "the Windows zip holds what its README lists and its programs run"
