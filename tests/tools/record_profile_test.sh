#!/usr/bin/env bash
# One recording recipe: the README's wpr and xperf lines, the Windows zip's
# README.txt and tools/record/dormiscope.wprp say the same. The profile is
# well-formed XML whose file-mode profile has the kernel logger collect
# exactly the events, stacks and buffers the xperf line asks for, and the
# power manager's timer-resolution events with stacks and their state at both
# ends, as the xperf session does; the recipe holds what dormiscope and the
# wake view read.
# Usage: record_profile_test.sh PROFILE README.md README.txt.in
set -uo pipefail

profile="$1"
readme="$2"
zip_readme="$3"
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

xmllint --noout "$profile" || { echo "FAIL: not well-formed XML"; exit 1; }

# A document's recording commands, one a line, with the profile named as it
# lies beside the programs (the README names it by its place in the clone).
commands_in() {
    grep -oE "(wpr|xperf) -.*" "$1" | sed -E 's/ +$//; s|tools\\record\\dormiscope\.wprp|dormiscope.wprp|'
}

readme_commands="$(commands_in "$readme")"
zip_commands="$(commands_in "$zip_readme")"
[[ "$(grep -c '^wpr ' <<<"$readme_commands")" == 2 && "$(grep -c '^xperf ' <<<"$readme_commands")" == 5 ]] ||
    fail "the README should give two wpr and five xperf lines, not: $readme_commands"
[[ "$zip_commands" == "$readme_commands" ]] ||
    fail "the zip's README.txt records otherwise than the README: $(diff <(echo "$readme_commands") <(echo "$zip_commands"))"
profile_commands="$(commands_in "$profile")"
[[ "$profile_commands" == "$(grep '^wpr ' <<<"$readme_commands")" ]] ||
    fail "the profile's own comment starts and stops it otherwise than the README: $profile_commands"

xperf_start="$(grep -m1 '^xperf -on ' <<<"$readme_commands")"
# The value of an xperf switch on the start line.
switch_value() {
    sed -nE "s/.* $1 ([^ ]+).*/\1/p" <<<"$xperf_start"
}
kernel_flags="$(switch_value -on | tr '+' '\n')"
stacks="$(switch_value -stackwalk | tr '+' '\n')"
buffer_size="$(switch_value -BufferSize)"
min_buffers="$(switch_value -MinBuffers)"

for needed in PROC_THREAD LOADER CSWITCH DISPATCHER DPC INTERRUPT; do
    grep -qx "$needed" <<<"$kernel_flags" || fail "the recipe records no $needed events: $xperf_start"
done
for needed in CSwitch ReadyThread; do
    grep -qx "$needed" <<<"$stacks" || fail "the recipe records no stacks on $needed: $xperf_start"
done
((buffer_size >= 1024)) || fail "buffers of at least 1 MB, not $buffer_size KB"

# The timer-resolution session: keyword 0x4 with stacks, its state captured
# after the start and before the stop, stopped with the kernel logger and merged.
power="Microsoft-Windows-Kernel-Power:0x4"
timer_start="$(grep -m1 '^xperf -start ' <<<"$readme_commands")"
session="$(sed -nE 's/^xperf -start ([^ ]+) .*/\1/p' <<<"$timer_start")"
[[ "$timer_start" == "xperf -start $session -on $power::'stack' "* ]] ||
    fail "the recipe records no timer-resolution events with stacks: $timer_start"
[[ "$(grep -cx "xperf -capturestate $session $power" <<<"$readme_commands")" == 2 ]] ||
    fail "the recipe should capture the timer-resolution state at the start and before stopping"
[[ "$(tail -n 1 <<<"$readme_commands")" == "xperf -stop $session -stop -d "* ]] ||
    fail "the recipe should stop both sessions and merge them: $(tail -n 1 <<<"$readme_commands")"
((min_buffers >= 256)) || fail "at least 256 buffers, not $min_buffers"

# WPR's name for each xperf kernel flag.
declare -A keyword_of=(
    [PROC_THREAD]=ProcessThread [LOADER]=Loader [CSWITCH]=CSwitch
    [DISPATCHER]=ReadyThread [DPC]=DPC [INTERRUPT]=Interrupt
)
expected_keywords=""
for flag in $kernel_flags; do
    [[ -n "${keyword_of[$flag]:-}" ]] || { fail "no WPR keyword is known for the xperf flag $flag"; continue; }
    expected_keywords+="${keyword_of[$flag]}"$'\n'
done

count() {
    xmllint --xpath "count($1)" "$profile"
}
values() {
    xmllint --xpath "$1/@Value" "$profile" 2>/dev/null | sed -E 's/.*Value="([^"]*)".*/\1/' | sort
}
expect_one() {
    local what="$1" path="$2"
    [[ "$(count "$path")" == 1 ]] || fail "$what ($path)"
}

profile_path='/WindowsPerformanceRecorder/Profiles/Profile[@Name="Dormiscope" and @LoggingMode="File"]'
expect_one "the file-mode profile" "$profile_path"
expect_one "its memory-mode twin, which WPR requires" '/WindowsPerformanceRecorder/Profiles/Profile[@Name="Dormiscope" and @LoggingMode="Memory"]'
collector_id="$(xmllint --xpath "string($profile_path/Collectors/SystemCollectorId/@Value)" "$profile")"
provider_id="$(xmllint --xpath "string($profile_path/Collectors/SystemCollectorId/SystemProviderId/@Value)" "$profile")"
collector="/WindowsPerformanceRecorder/Profiles/SystemCollector[@Id=\"$collector_id\"]"
provider="/WindowsPerformanceRecorder/Profiles/SystemProvider[@Id=\"$provider_id\"]"
expect_one "the kernel logger as the profile's collector" "${collector}[@Name=\"NT Kernel Logger\"]"
expect_one "buffers of $buffer_size KB, as xperf's" "$collector/BufferSize[@Value = $buffer_size]"
expect_one "$min_buffers buffers, as xperf's least" "$collector/Buffers[@Value = $min_buffers]"
[[ "$(values "$provider/Keywords/Keyword")" == "$(sort <<<"${expected_keywords%$'\n'}")" ]] ||
    fail "the profile's events are $(values "$provider/Keywords/Keyword" | tr '\n' ' ')but xperf records $(tr '\n' ' ' <<<"${expected_keywords%$'\n'}")"
[[ "$(values "$provider/Stacks/Stack")" == "$(sort <<<"$stacks")" ]] ||
    fail "the profile's stacks are on $(values "$provider/Stacks/Stack" | tr '\n' ' ')but xperf's on $(tr '\n' ' ' <<<"$stacks")"

events_path="$profile_path/Collectors/EventCollectorId/EventProviders/EventProviderId"
event_provider="/WindowsPerformanceRecorder/Profiles/EventProvider[@Id=\"$(xmllint --xpath "string($events_path/@Value)" "$profile")\"]"
expect_one "the timer-resolution provider with stacks in the file-mode profile" \
    "${event_provider}[@Name=\"331C3B3A-2005-44C2-AC5E-77220C37D6B4\" and @Stack=\"true\"]"
for part in Keywords CaptureStateOnStart CaptureStateOnSave; do
    [[ "$(values "$event_provider/$part/Keyword")" == "0x4" ]] ||
        fail "the timer-resolution provider's $part should be keyword 0x4, as xperf's"
done

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the README, the zip's README.txt and the profile record the same: $xperf_start"
