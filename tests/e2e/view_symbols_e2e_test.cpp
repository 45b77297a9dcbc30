// dormiscope-view naming code by function from PDBs: real images and PDBs
// made by clang and lld-link, a written trace whose stacks, timer DPC and
// DPC readier point into them, and the view run with --symbols or
// _NT_SYMBOL_PATH.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "etl_writer/code_events.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/trace_clock.h"
#include "platform/kernel_event_classes.h"
#include "report_json.h"
#include "support/kernel_trace.h"
#include "support/process_runner.h"
#include "support/temporary_directory.h"
#include "support/windows_image.h"
#include "windows_image/linker_map.h"

namespace dormiscope::testing {
namespace {

using windows_image::MappedFunction;
using windows_image::ReadMappedFunctions;

constexpr std::uint32_t kIdle = 0;
constexpr std::uint32_t kProcess = 100;
constexpr std::uint32_t kThread = 1000;
constexpr std::uint64_t kCalcBase = 0x7FF6'2000'0000;
constexpr std::uint64_t kTickBase = 0xFFFF'F800'4000'0000;
constexpr std::uint64_t kImageSize = 0x10'0000;

// A user program's code and a driver's, each function doing enough to be
// several bytes long.
constexpr const char* kCalcSource = R"(
int inner(int v) { volatile int x = v; x = x * 7 + 3; return x; }
int outer(int v) { volatile int y = inner(v); return y + inner(v + 1); }
)";
constexpr const char* kTickSource = R"(
volatile int ticks;
int wait_for_tick(int v) { volatile int x = v; while (x > 0) x = x - ticks - 1; return x; }
int signal_waiter(int v) { volatile int x = v; ticks = ticks + x; return ticks; }
void on_timer(void) { volatile int x = signal_waiter(ticks); ticks = x + 1; }
)";

const MappedFunction& Function(const std::vector<MappedFunction>& functions, const std::string& name) {
    for (const MappedFunction& function : functions) {
        if (function.name == name) {
            return function;
        }
    }
    throw std::runtime_error("the map has no function " + name);
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

GUID GuidOf(const symbols::PdbIdentity& identity) {
    GUID guid{};
    const auto& b = identity.guid;
    guid.Data1 = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    guid.Data2 = static_cast<std::uint16_t>(b[4] | b[5] << 8);
    guid.Data3 = static_cast<std::uint16_t>(b[6] | b[7] << 8);
    for (std::size_t index = 0; index < 8; ++index) {
        guid.Data4[index] = b[8 + index];
    }
    return guid;
}

// One address in a module: where it lies in a function, and its two texts.
struct CodeAddress {
    std::string module;
    std::uint64_t base = 0;
    MappedFunction function;
    std::uint32_t into = 0;  // bytes into the function

    std::uint64_t Address() const { return base + function.start + into; }
    std::string Named() const { return module + "!" + function.name + "+" + Hex(into); }
    std::string Unnamed() const { return module + "+" + Hex(function.start + into); }
};

class ViewSymbols : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        images_ = std::make_unique<TemporaryDirectory>();
        calc_ = BuildWindowsImage(kCalcSource, images_->path(), "calc", PdbSymbols::kPrivate);
        tick_ = BuildWindowsImage(kTickSource, images_->path(), "tick", PdbSymbols::kPrivate);
    }
    static void TearDownTestSuite() { images_.reset(); }

    static std::unique_ptr<TemporaryDirectory> images_;
    static WindowsImage calc_;
    static WindowsImage tick_;

    void SetUp() override {
        const std::vector<MappedFunction> calc = ReadMappedFunctions(calc_.map);
        const std::vector<MappedFunction> tick = ReadMappedFunctions(tick_.map);
        wait_ = {"tick.sys", kTickBase, Function(tick, "wait_for_tick"), 5};
        inner_ = {"calc.dll", kCalcBase, Function(calc, "inner"), 4};
        outer_ = {"calc.dll", kCalcBase, Function(calc, "outer"), 17};
        signal_ = {"tick.sys", kTickBase, Function(tick, "signal_waiter"), 3};
        timer_ = {"tick.sys", kTickBase, Function(tick, "on_timer"), 0};
        timer_call_ = {"tick.sys", kTickBase, Function(tick, "on_timer"), 9};
        for (const CodeAddress* address : {&wait_, &inner_, &outer_, &signal_, &timer_call_}) {
            ASSERT_LT(address->into, address->function.size) << address->Named();
        }
    }

    // Thread 1000 of calc.exe waits in the driver, called from calc.dll;
    // the driver's timer DPC readies it, and it runs again.
    std::filesystem::path WriteTrace(const symbols::PdbIdentity& calc_pdb) const {
        KernelTrace trace;
        trace.ProcessRundown(0, "Idle").ThreadRundown(0, kIdle);
        trace.ProcessRundown(kProcess, "calc.exe").ThreadRundown(kProcess, kThread);
        const auto image = [&trace](std::uint32_t process, std::uint64_t base, std::u16string file,
                                    const symbols::PdbIdentity& pdb) {
            trace.Add(etl::ImageEvent(0, 0, kOpcodeImageDCStart, 3, 8,
                                      {.ImageBase = base, .ImageSize = kImageSize, .ProcessId = process,
                                       .FileName = std::move(file)}),
                      0);
            trace.Add(etl::ImageIdentityEvent(0, 0, 8,
                                              {.ImageBase = base, .ProcessId = process, .PdbGuid = GuidOf(pdb),
                                               .Age = pdb.age, .PdbFileName = pdb.pdb_name}),
                      0);
        };
        image(kProcess, kCalcBase, u"C:\\Program Files\\Calc\\calc.dll", calc_pdb);
        image(0, kTickBase, u"\\SystemRoot\\System32\\drivers\\tick.sys", tick_.identity);

        const auto raw = [&trace](std::uint64_t at) {
            return static_cast<std::uint64_t>(etl::RawFromOffset(trace.options(), at));
        };
        trace.ContextSwitch(10'000, kThread, kIdle);
        trace.ContextSwitch(11'000, kIdle, kThread);
        trace.Add(etl::StackEvent(0, 0, raw(11'000), kProcess, kThread,
                                  {wait_.Address(), inner_.Address(), outer_.Address()}),
                  11'000);
        trace.Add(etl::ReadyThreadEvent(0, 0, {.TThreadId = kThread, .Flag = etl::kReadiedFromDpc}), 50'200);
        trace.Add(etl::StackEvent(0, 0, raw(50'200), 0, kIdle, {signal_.Address(), timer_call_.Address()}), 50'200);
        trace.Add(etl::DpcEvent(0, 0, kOpcodeTimerDpc, raw(50'000), timer_.Address()), 50'400);
        trace.ContextSwitch(50'500, kThread, kIdle);
        trace.ContextSwitch(51'000, kIdle, kThread);
        return trace.Write(work_ / "trace.etl");
    }

    struct ViewRun {
        ProcessResult result;
        std::string json;
        std::string page;
    };

    // The Windows build's view and what runs it, given by its build's test
    // of this suite; null in the Linux build's own run.
    static const char* WindowsView() { return std::getenv("DORMISCOPE_WINDOWS_VIEW"); }
    static const char* WindowsEmulator() { return std::getenv("DORMISCOPE_WINDOWS_EMULATOR"); }

    ViewRun Run(const std::vector<std::string>& symbol_arguments, const std::string& nt_symbol_path = "",
                bool windows = false) const {
        std::vector<std::string> arguments = {DORMISCOPE_VIEW_BINARY};
        if (windows) {
            arguments = {WindowsEmulator(), WindowsView()};
        }
        arguments.insert(arguments.end(), {"-i", "trace.etl", "-o", "wakes.html", "--json", "wakes.json"});
        arguments.insert(arguments.end(), symbol_arguments.begin(), symbol_arguments.end());
        std::filesystem::remove(work_ / "wakes.json");
        ViewRun run{RunProcess(arguments, work_.path(), {{"_NT_SYMBOL_PATH", nt_symbol_path}}), {}, {}};
        // Standard error in text mode ends Windows lines with CR LF.
        std::erase(run.result.standard_error, '\r');
        run.json = Read(work_ / "wakes.json");
        run.page = Read(work_ / "wakes.html");
        return run;
    }

    static std::string Read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Every frame text of the document in order: the routines, then each
    // thread's DPC readiers, wait stacks and readying stacks.
    static std::vector<std::string> FrameTexts(const std::string& json) {
        const std::optional<JsonValue> document = ParseJson(json);
        EXPECT_TRUE(document) << json;
        std::vector<std::string> texts;
        if (!document) {
            return texts;
        }
        const auto add = [&texts](const JsonValue* text) {
            if (text != nullptr) {
                texts.emplace_back(text->text.begin(), text->text.end());
            }
        };
        for (const JsonValue& routine : document->Member(u"trace")->Member(u"routines")->items) {
            add(routine.Member(u"routine"));
        }
        for (const JsonValue& process : document->Member(u"processes")->items) {
            for (const JsonValue& thread : process.Member(u"threads")->items) {
                if (const JsonValue* readiers = thread.Member(u"readiers"); readiers != nullptr) {
                    for (const JsonValue& readier : readiers->items) {
                        add(readier.Member(u"routine"));
                    }
                }
                for (const std::u16string_view key : {u"wait_stacks", u"readying_stacks"}) {
                    for (const JsonValue& stack : thread.Member(key)->items) {
                        for (const JsonValue& frame : stack.Member(u"frames")->items) {
                            add(&frame);
                        }
                    }
                }
            }
        }
        return texts;
    }

    // The document's "symbols" value as written.
    static std::string SymbolsText(const std::string& json) {
        const std::string key = "\"symbols\":";
        const std::size_t start = json.find(key);
        if (start == std::string::npos) {
            return "(none)";
        }
        const std::size_t end = json.find(",\"routines\":", start);
        return json.substr(start + key.size(), end - start - key.size());
    }

    // The document's frames in FrameTexts' order, each module named by function or not.
    std::vector<std::string> Frames(bool calc_named, bool tick_named) const {
        const auto text = [](const CodeAddress& address, bool named) {
            return named ? address.Named() : address.Unnamed();
        };
        return {text(timer_, tick_named),  text(timer_, tick_named),  text(wait_, tick_named),
                text(inner_, calc_named),  text(outer_, calc_named),  text(signal_, tick_named),
                text(timer_call_, tick_named)};
    }

    static std::string Missing(const symbols::PdbIdentity& pdb) {
        return "{\"pdb\":\"" + symbols::PdbFileName(pdb) + "\",\"guid\":\"" + symbols::GuidText(pdb) +
               "\",\"age\":" + std::to_string(pdb.age) + "}";
    }

    // Puts a PDB where a symbol store keeps it.
    static void Store(const std::filesystem::path& store, const WindowsImage& image) {
        const std::string name = symbols::PdbFileName(image.identity);
        const std::filesystem::path folder = store / name / symbols::SymbolStoreKey(image.identity);
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(image.pdb, folder / name);
    }

    TemporaryDirectory work_;
    CodeAddress wait_, inner_, outer_, signal_, timer_, timer_call_;
};

std::unique_ptr<TemporaryDirectory> ViewSymbols::images_;
WindowsImage ViewSymbols::calc_;
WindowsImage ViewSymbols::tick_;

TEST_F(ViewSymbols, NamesEveryFrameByFunctionFromTheGivenFoldersOrTheVariablesStore) {
    WriteTrace(calc_.identity);
    TemporaryDirectory flat;
    std::filesystem::copy_file(calc_.pdb, flat / "calc.pdb");
    TemporaryDirectory store;
    Store(store.path(), tick_);

    const ViewRun named = Run({"--symbols", flat.path().string(), "--SYMBOLS", store.path().string()});
    ASSERT_EQ(named.result.exit_code, 0) << named.result.standard_error;
    EXPECT_EQ(named.result.standard_error, "");
    EXPECT_EQ(FrameTexts(named.json), Frames(true, true));
    EXPECT_EQ(SymbolsText(named.json),
              "{\"modules\":2,\"modules_with_symbols\":2,\"missing\":[],\"unreadable\":[],\"without_identity\":[]}");
    EXPECT_NE(named.page.find("<p>Symbols: 2 of 2 modules</p>"), std::string::npos);

    // The debugger's usual setting: a local store in front of a server, which is never asked.
    Store(store.path(), calc_);
    const ViewRun from_variable = Run({}, "srv*" + store.path().string() + "*https://symbols.example/download");
    ASSERT_EQ(from_variable.result.exit_code, 0) << from_variable.result.standard_error;
    EXPECT_EQ(from_variable.result.standard_error, "");
    EXPECT_EQ(from_variable.json, named.json);
    EXPECT_EQ(from_variable.page, named.page);
}

TEST_F(ViewSymbols, WithoutAFolderFramesKeepModuleOffsetsAndServersAreOnlyNamed) {
    WriteTrace(calc_.identity);
    const ViewRun plain = Run({});
    ASSERT_EQ(plain.result.exit_code, 0) << plain.result.standard_error;
    EXPECT_EQ(plain.result.standard_error, "");
    EXPECT_EQ(FrameTexts(plain.json), Frames(false, false));
    EXPECT_EQ(SymbolsText(plain.json), "null");
    EXPECT_EQ(plain.page.find("Symbols:"), std::string::npos);

    const ViewRun server_only = Run({}, "srv*https://symbols.example/download");
    ASSERT_EQ(server_only.result.exit_code, 0) << server_only.result.standard_error;
    EXPECT_EQ(server_only.result.standard_error,
              "dormiscope-view: _NT_SYMBOL_PATH names only symbol servers (https://symbols.example/download) and "
              "no local folder; symbols are never downloaded, so give the folder the debugger caches them in with "
              "srv*DIR*... or --symbols DIR\n");
    EXPECT_EQ(server_only.json, plain.json);
    EXPECT_EQ(server_only.page, plain.page);
}

// Another build's PDB is missing; a damaged one was found, and is unreadable.
TEST_F(ViewSymbols, APdbOfAnotherBuildOrDamagedIsRefusedWithOneLineAndListedMissingOrUnreadable) {
    symbols::PdbIdentity older = calc_.identity;
    --older.age;
    symbols::PdbIdentity other_guid = calc_.identity;
    other_guid.guid[3] ^= 0x40;
    const std::string pdb = Read(calc_.pdb);
    struct Case {
        const char* what;
        symbols::PdbIdentity recorded;  // what the trace names for calc.dll
        std::string pdb_bytes;          // what the folder holds as calc.pdb
        std::string warning_start;
        bool unreadable;
    };
    const Case cases[] = {
        {"another age", older, pdb, "dormiscope-view: skipped ", false},
        {"another GUID", other_guid, pdb, "dormiscope-view: skipped ", false},
        {"cut in half", calc_.identity, pdb.substr(0, pdb.size() / 2), "dormiscope-view: cannot read the PDB ", true},
        {"not a PDB", calc_.identity, std::string(8192, 'x'), "dormiscope-view: cannot read the PDB ", true},
    };
    for (const Case& test : cases) {
        WriteTrace(test.recorded);
        TemporaryDirectory folder;
        std::ofstream(folder / "calc.pdb", std::ios::binary) << test.pdb_bytes;
        std::filesystem::copy_file(tick_.pdb, folder / "tick.pdb");

        const ViewRun run = Run({"--symbols", folder.path().string()});
        ASSERT_EQ(run.result.exit_code, 0) << test.what << ": " << run.result.standard_error;
        const std::string& error = run.result.standard_error;
        EXPECT_EQ(error.rfind(test.warning_start + (folder / "calc.pdb").string() + ": ", 0), 0u)
            << test.what << ": " << error;
        EXPECT_EQ(error.find('\n'), error.size() - 1) << test.what << ": " << error;
        EXPECT_EQ(FrameTexts(run.json), Frames(false, true)) << test.what;
        const std::string listed = Missing(test.recorded);
        EXPECT_EQ(SymbolsText(run.json), "{\"modules\":2,\"modules_with_symbols\":1,\"missing\":[" +
                                             (test.unreadable ? "" : listed) + "],\"unreadable\":[" +
                                             (test.unreadable ? listed : "") + "],\"without_identity\":[]}")
            << test.what;
        const std::string line = std::string("Symbols: 1 of 2 modules; ") + (test.unreadable ? "unreadable" : "missing") +
                                 ": " + symbols::DescribePdb(test.recorded) + "</p>";
        EXPECT_NE(run.page.find(line), std::string::npos) << test.what;
    }
}

// Run by the Windows build's tests, which give its view: DbgHelp (wine's,
// there) must name every frame as LLVM's reader does here, and refuse
// another build's PDB with the same document.
TEST_F(ViewSymbols, TheWindowsBuildNamesTheSameFramesThroughDbgHelp) {
    if (WindowsView() == nullptr || WindowsEmulator() == nullptr) {
        GTEST_SKIP() << "run by the Windows build's tests";
    }
    WriteTrace(calc_.identity);
    TemporaryDirectory flat;
    std::filesystem::copy_file(calc_.pdb, flat / "calc.pdb");
    TemporaryDirectory store;
    Store(store.path(), tick_);
    const std::vector<std::string> given = {"--symbols", flat.path().string()};
    const std::string variable = "srv*" + store.path().string() + "*https://symbols.example/download";

    const ViewRun linux_run = Run(given, variable);
    const ViewRun windows_run = Run(given, variable, true);
    ASSERT_EQ(windows_run.result.exit_code, 0) << windows_run.result.standard_error;
    EXPECT_EQ(windows_run.result.standard_error, linux_run.result.standard_error);
    EXPECT_EQ(FrameTexts(windows_run.json), Frames(true, true));
    EXPECT_EQ(windows_run.json, linux_run.json);
    EXPECT_EQ(windows_run.page, linux_run.page);

    symbols::PdbIdentity older = calc_.identity;
    --older.age;
    WriteTrace(older);
    const ViewRun linux_refused = Run(given, variable);
    const ViewRun windows_refused = Run(given, variable, true);
    ASSERT_EQ(windows_refused.result.exit_code, 0) << windows_refused.result.standard_error;
    EXPECT_EQ(FrameTexts(windows_refused.json), Frames(false, true));
    // Wine's DbgHelp cannot tell another build's PDB from a damaged one: the
    // summary lists it unreadable where Linux lists it missing. Windows joins
    // the folder and the name with '\\'; the line still names the file, alone.
    std::string expected = linux_refused.json;
    const std::string missing = "\"missing\":[" + Missing(older) + "],\"unreadable\":[]";
    const std::size_t listed = expected.find(missing);
    ASSERT_NE(listed, std::string::npos) << linux_refused.json;
    expected.replace(listed, missing.size(), "\"missing\":[],\"unreadable\":[" + Missing(older) + "]");
    EXPECT_EQ(windows_refused.json, expected);
    const std::string& error = windows_refused.result.standard_error;
    EXPECT_NE(error.find("calc.pdb: "), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
}

TEST_F(ViewSymbols, ASymbolsPathThatIsNoFolderIsRefusedBeforeAnythingIsWritten) {
    WriteTrace(calc_.identity);
    const std::filesystem::path missing = work_ / "no such folder";
    const ViewRun run = Run({"--symbols", missing.string()});
    EXPECT_EQ(run.result.exit_code, 2);
    EXPECT_EQ(run.result.standard_error, "dormiscope-view: --symbols " + missing.string() + " is not a folder\n");
    EXPECT_FALSE(std::filesystem::exists(work_ / "wakes.html"));
    EXPECT_FALSE(std::filesystem::exists(work_ / "wakes.json"));
}

}  // namespace
}  // namespace dormiscope::testing
