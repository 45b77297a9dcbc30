// Reads arbitrary bytes as a PDB the way the wake view does, in its reading
// process (sent the bytes instead of a path): first as whatever build it says it is, then as that build, so the
// symbol streams are reached too. A reading process may crash, corrupt its
// heap or hang on a damaged file (LLVM's reader does); only the parent is
// judged: it must come back with an outcome that holds together, and a table
// every address can be looked up in.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "view/symbols/pdb_reader.h"
#include "view/symbols/pdb_reading_process.h"

namespace {

using dormiscope::symbols::PdbIdentity;
using dormiscope::symbols::PdbReading;

// Below the fuzzer's -timeout even for both readings of one input.
constexpr std::chrono::milliseconds kTimeLimit{4000};
constexpr int kSanitizerReport = 99;

// In the child, a sanitizer's report would run the fuzzer's own death
// handling there and write the input out as a failure of the target; the
// parent sees the exit code instead, and the report is not printed.
void QuietChild() {
    static bool quiet = false;  // the child's copy, once per child
    if (quiet) {
        return;
    }
    quiet = true;
    __sanitizer_set_death_callback([] { _exit(kSanitizerReport); });
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDERR_FILENO);
    }
}

PdbReading ReadInChild(std::span<const std::uint8_t> bytes, const PdbIdentity& wanted) {
    static dormiscope::symbols::PdbReadingProcess process(
        [](const dormiscope::symbols::PdbReadingRequest& request) {
            QuietChild();
            const std::span<const std::uint8_t> pdb(reinterpret_cast<const std::uint8_t*>(request.source.data()),
                                                    request.source.size());
            return dormiscope::symbols::ReadPdbBytes(pdb, "fuzz.pdb", request.wanted);
        },
        kTimeLimit);
    return process.Read({std::string(bytes.begin(), bytes.end()), wanted});
}

void CheckHoldsTogether(const PdbReading& reading) {
    const bool failed = reading.outcome == PdbReading::Outcome::kUnreadable ||
                        reading.outcome == PdbReading::Outcome::kReaderFailed;
    if (failed && (reading.problem.empty() || reading.functions.size() != 0)) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const PdbReading first = ReadInChild(bytes, {});
    CheckHoldsTogether(first);
    if (first.outcome != PdbReading::Outcome::kOtherIdentity) {
        return 0;
    }
    const PdbReading second = ReadInChild(bytes, first.found);
    CheckHoldsTogether(second);
    if (second.outcome == PdbReading::Outcome::kOtherIdentity) {
        __builtin_trap();
    }
    for (std::uint32_t offset = 0; offset < 0x4000; offset += 7) {
        (void)second.functions.Lookup(offset);
    }
    return 0;
}
