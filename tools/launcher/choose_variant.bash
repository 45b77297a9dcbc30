# Runs dormiscope the way this machine allows; sourced by the checkout's
# bin/dormiscope and by the installed dormiscope, which differ only in where
# the programs come from. The sourcing script sets
#
#   launcher_name    the name its own failures start with
#   native_program   the dynamically linked build
#   vendor_shim      the library that answers CPUID leaf 0 under CPUID faulting
#   static_program   the static build, for user-mode emulation
#
# and defines `prepare VARIANT`, which makes VARIANT's files ready to run
# (native, native-with-shim or static) or calls `fail`.
#
# On a GenuineVexor processor the native build runs. Elsewhere the processor
# is emulated to report that vendor: where the kernel offers CPUID faulting,
# the native build runs with the shim preloaded; otherwise the static build
# runs under qemu-user.
#
#   DORMISCOPE_EMULATE_VENDOR=<12-byte text>  emulate, with that vendor text
#   DORMISCOPE_EMULATION=cpuid-fault|qemu     emulate that way
#
# Nothing of its own is printed when it works; its own failures print one
# line and exit with 125, a code the program never returns.

accepted_vendor="GenuineVexor"

fail() {
    echo "$launcher_name: $*" >&2
    exit 125
}

host_vendor=""
if vendor_line="$(grep -m1 '^vendor_id' /proc/cpuinfo 2>/dev/null)"; then
    host_vendor="${vendor_line#*: }"
fi
if [[ -z "${DORMISCOPE_EMULATE_VENDOR:-}${DORMISCOPE_EMULATION:-}" && "$host_vendor" == "$accepted_vendor" ]]; then
    prepare native
    exec "$native_program" "$@"
fi

vendor="${DORMISCOPE_EMULATE_VENDOR:-$accepted_vendor}"
# Leaf 0 holds exactly 12 bytes of vendor text.
if [[ "$(printf '%s' "$vendor" | wc -c)" -ne 12 ]]; then
    fail "the vendor text to emulate must be 12 bytes long, not '$vendor'"
fi

emulation="${DORMISCOPE_EMULATION:-}"
if [[ -z "$emulation" ]]; then
    emulation=qemu
    if grep -qw cpuid_fault /proc/cpuinfo 2>/dev/null; then
        emulation=cpuid-fault
    fi
fi

case "$emulation" in
cpuid-fault)
    grep -qw cpuid_fault /proc/cpuinfo 2>/dev/null ||
        fail "this kernel offers no CPUID faulting (no cpuid_fault flag in /proc/cpuinfo)"
    prepare native-with-shim
    # The loader splits LD_PRELOAD at spaces and colons, which a folder name
    # may hold: it is given the shim through a descriptor instead, whose
    # /proc name has neither.
    exec {shim_descriptor}<"$vendor_shim" || fail "cannot open the CPUID library $vendor_shim"
    export DORMISCOPE_CPUID_VENDOR="$vendor"
    export LD_PRELOAD="/proc/self/fd/$shim_descriptor${LD_PRELOAD:+:$LD_PRELOAD}"
    exec "$native_program" "$@"
    ;;
qemu)
    command -v qemu-x86_64 >/dev/null || fail "emulation needs qemu-x86_64 (Debian package qemu-user)"
    # qemu's -cpu option separates its properties with commas.
    [[ "$vendor" != *,* ]] || fail "qemu cannot emulate a vendor text with a comma: '$vendor'"
    prepare static
    exec qemu-x86_64 -cpu "max,vendor=$vendor" "$static_program" "$@"
    ;;
*)
    fail "DORMISCOPE_EMULATION must be cpuid-fault or qemu, not '$emulation'"
    ;;
esac
