// Symbol look-ups for the wake view: 10 000 distinct addresses across 50
// modules, each module's PDB found in a symbol store and read once, from a
// fresh resolver every iteration. The DLLs and PDBs (200 functions each) are
// made once with clang and lld-link into the temporary directory.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/windows_image.h"
#include "windows_image/image_pdb_identity.h"
#include "windows_image/linker_map.h"
#include "view/symbols/symbol_resolver.h"

namespace dormiscope {
namespace {

constexpr int kModules = 50;
constexpr int kFunctionsPerModule = 200;

struct ModuleAddresses {
    symbols::PdbIdentity identity;
    std::vector<std::uint32_t> offsets;  // one inside each function
};

std::string ModuleSource(int module) {
    std::ostringstream code;
    for (int function = 0; function < kFunctionsPerModule; ++function) {
        code << "int m" << module << "_f" << function << "(int v) { int s = v; for (int i = 0; i < "
             << function % 7 + 1 << "; ++i) s = s * 31 + i; return s; }\n";
    }
    return code.str();
}

std::vector<ModuleAddresses> StoredModules(const std::filesystem::path& root) {
    const std::filesystem::path complete = root / "complete";
    const bool made = std::filesystem::exists(complete);
    std::filesystem::create_directories(root / "build");
    std::vector<ModuleAddresses> modules;
    for (int module = 0; module < kModules; ++module) {
        const std::string name = "module" + std::to_string(module);
        testing::WindowsImage image;
        if (made) {
            image.map = root / "build" / (name + ".map");
            image.identity = *windows_image::ReadImagePdbIdentity(root / "build" / (name + ".dll"));
        } else {
            image = testing::BuildWindowsImage(ModuleSource(module), root / "build", name, testing::PdbSymbols::kPrivate);
            const std::filesystem::path stored =
                root / "store" / (name + ".pdb") / symbols::SymbolStoreKey(image.identity) / (name + ".pdb");
            std::filesystem::create_directories(stored.parent_path());
            std::filesystem::copy_file(image.pdb, stored, std::filesystem::copy_options::overwrite_existing);
        }
        ModuleAddresses addresses{image.identity, {}};
        for (const windows_image::MappedFunction& function : windows_image::ReadMappedFunctions(image.map)) {
            addresses.offsets.push_back(function.start + function.size / 2);
        }
        modules.push_back(std::move(addresses));
    }
    if (!made) {
        std::ofstream(complete) << "";
    }
    return modules;
}

void BM_ResolveDistinctAddresses(benchmark::State& state) {
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "dormiscope-bench-symbols";
    const std::vector<ModuleAddresses> modules = StoredModules(root);
    std::size_t addresses = 0;
    std::size_t named = 0;
    for (auto _ : state) {
        symbols::SymbolResolver resolver({root / "store"});
        addresses = 0;
        named = 0;
        // Interleaved across modules, as frames of a trace arrive.
        for (std::size_t index = 0; index < kFunctionsPerModule; ++index) {
            for (const ModuleAddresses& module : modules) {
                if (index < module.offsets.size()) {
                    ++addresses;
                    named += resolver.Resolve(module.identity, module.offsets[index]) != nullptr;
                }
            }
        }
    }
    state.counters["addresses"] = static_cast<double>(addresses);
    state.counters["named"] = static_cast<double>(named);
    state.counters["addresses/s"] =
        benchmark::Counter(static_cast<double>(addresses), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_ResolveDistinctAddresses)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
