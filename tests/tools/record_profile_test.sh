#!/usr/bin/env bash
# tools/record/dormiscope.wprp is well-formed XML, and its file-mode profile
# has the kernel logger collect what dormiscope and the wake view read, into
# buffers large enough for a busy machine. Usage: record_profile_test.sh PROFILE
set -uo pipefail

profile="$1"
failures=0

xmllint --noout "$profile" || { echo "FAIL: not well-formed XML"; exit 1; }

count() {
    xmllint --xpath "count($1)" "$profile"
}

expect_one() {
    local what="$1" path="$2"
    if [[ "$(count "$path")" != 1 ]]; then
        echo "FAIL: $what ($path)"
        failures=$((failures + 1))
    fi
}

profile_path='/WindowsPerformanceRecorder/Profiles/Profile[@Name="Dormiscope" and @LoggingMode="File"]'
expect_one "the file-mode profile" "$profile_path"
expect_one "its memory-mode twin, which WPR requires" '/WindowsPerformanceRecorder/Profiles/Profile[@Name="Dormiscope" and @LoggingMode="Memory"]'
collector_id="$(xmllint --xpath "string($profile_path/Collectors/SystemCollectorId/@Value)" "$profile")"
provider_id="$(xmllint --xpath "string($profile_path/Collectors/SystemCollectorId/SystemProviderId/@Value)" "$profile")"
collector="/WindowsPerformanceRecorder/Profiles/SystemCollector[@Id=\"$collector_id\"]"
provider="/WindowsPerformanceRecorder/Profiles/SystemProvider[@Id=\"$provider_id\"]"
expect_one "the kernel logger as the profile's collector" "$collector[@Name=\"NT Kernel Logger\"]"
expect_one "buffers of at least 1 MB" "$collector/BufferSize[@Value >= 1024]"
expect_one "at least 256 buffers" "$collector/Buffers[@Value >= 256]"
for keyword in ProcessThread Loader CSwitch ReadyThread DPC Interrupt; do
    expect_one "the $keyword events" "$provider/Keywords/Keyword[@Value=\"$keyword\"]"
done
for stack in CSwitch ReadyThread; do
    expect_one "stacks on the $stack events" "$provider/Stacks/Stack[@Value=\"$stack\"]"
done

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the recording profile names the kernel logger, its buffers, the six kinds of events and the two with stacks"
