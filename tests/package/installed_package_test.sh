#!/usr/bin/env bash
# The Debian package as a user gets it: lintian finds no error; every shared
# library its programs load belongs to a package it depends on; the
# companions' --version is the package's; unpacked into
# a temporary root (with a space in its path), its programs run from a folder
# outside the clone, with nothing of the clone on the path, and write on the
# sample the same report, log and page as the clone's launcher does there.
# Usage: installed_package_test.sh PACKAGE.deb SAMPLE.etl
set -uo pipefail

deb="$(realpath "$1")"
sample="$(realpath "$2")"
clone="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

echo "lintian:"
lintian --fail-on error "$deb" || fail "lintian reports errors"

installed="$scratch/installed root"
if ! dpkg-deb -x "$deb" "$installed"; then
    echo "FAIL: dpkg-deb cannot unpack $deb"
    exit 1
fi

# The package names of Depends, without versions; alternatives all count.
depends="$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' | sed -E 's/\(.*\)//; s/[[:space:]]//g')"
# What ldd says of every installed ELF file.
ldd_output="$(find "$installed" -type f -print0 | while IFS= read -r -d '' file; do
    [[ "$(head -c 4 "$file" | tr -d '\0')" == $'\x7fELF' ]] && ldd "$file" 2>&1
done)"
grep -F "not found" <<<"$ldd_output" && fail "an installed program needs a library this machine lacks"
loaded="$(grep -oE '/[^ ]+\.so[^ ]*' <<<"$ldd_output" | sort -u)"
[[ -n "$loaded" ]] || fail "no installed program loads a shared library"
# dpkg lists a library under /lib or /usr/lib, whichever its package ships.
declare -A owner_of
while read -r owner_line; do
    owner_of["${owner_line##*: }"]="${owner_line%%:*}"
done < <(while read -r path; do printf '%s\n%s\n' "${path#/usr}" "/usr${path#/usr}"; done <<<"$loaded" |
    xargs dpkg -S 2>/dev/null)
while read -r path; do
    package="${owner_of["${path#/usr}"]:-${owner_of["/usr${path#/usr}"]:-}}"
    if [[ -z "$package" ]]; then
        fail "no package owns $path, which an installed program loads"
    elif ! grep -qx "$package" <<<"$depends"; then
        fail "an installed program loads $path from $package, which Depends does not name"
    fi
done <<<"$loaded"

for program in "$installed"/usr/bin/*; do
    name="$(basename "$program")"
    [[ -f "$installed/usr/share/man/man1/$name.1.gz" ]] || fail "$name has no man page"
done
grep -rlF "$clone" "$installed" && fail "the files above name the clone's folder $clone"

# One version: the package's is every companion's --version.
version="$(dpkg-deb -f "$deb" Version)"
for program in etwdump dormiscope-view; do
    printed="$(env -i PATH="$installed/usr/bin:/usr/bin:/bin" "$program" --version 2>&1)"
    [[ "$printed" == "$program ${version%%-*}" ]] || fail "$program --version printed '$printed', the package is $version"
done

# The same sample, report, log and page names as bin/run-sample. The clone's
# launcher is held to the static build (reused from bin/test's build), which
# answers as any other way does; the view is the release build bin/test made,
# as bin/dormiscope-view would build another tree.
cp "$sample" "$scratch/idle-machine.etl"
run_sample() {
    local folder="$1" launcher="$2" view="$3"
    shift 3
    mkdir -p "$folder"
    (cd "$folder" && "$@" "$launcher" -i "$scratch/idle-machine.etl" -o report.json -d info)
    echo "dormiscope: exit $?"
    (cd "$folder" && "$@" "$view" -i "$scratch/idle-machine.etl" -o wakes.html --json wakes.json)
    echo "dormiscope-view: exit $?"
}
expected="$(run_sample "$scratch/expected" "$clone/bin/dormiscope" "$clone/build/release/tools/view/dormiscope-view" \
    env DORMISCOPE_EMULATION=qemu 2>&1)"
actual="$(run_sample "$scratch/work" dormiscope dormiscope-view \
    env -i HOME="$scratch" LANG=C.UTF-8 PATH="$installed/usr/bin:/usr/bin:/bin" 2>&1)"
[[ "$expected" == "$(printf 'dormiscope: exit 0\ndormiscope-view: exit 0')" ]] || fail "the clone's run: $expected"
[[ "$actual" == "$expected" ]] || fail "the installed programs: $actual"
for file in report.json wakes.html wakes.json; do
    cmp "$scratch/expected/$file" "$scratch/work/$file" || fail "$file differs from the clone's"
done
without_stamps() { sed -E 's/^\[[^]]*\]//' "$1"; }
diff <(without_stamps "$scratch/expected/dormiscope.log") <(without_stamps "$scratch/work/dormiscope.log") ||
    fail "dormiscope.log differs from the clone's beyond its time stamps"

if ((failures > 0)); then
    echo "$failures failure(s)"
    exit 1
fi
echo "the installed package works"
