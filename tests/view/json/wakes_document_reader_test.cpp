#include "view/json/wakes_document_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/temporary_directory.h"
#include "view/json/wakes_json.h"

namespace dormiscope::view {
namespace {

using dormiscope::testing::ReadFile;

std::string WrittenAgain(const std::string& document) {
    const WakesDocument read = ReadWakesDocument(document);
    EXPECT_TRUE(read.figures.has_value()) << read.refusal;
    return read.figures ? WakesJson(*read.figures) : std::string();
}

// Every document the view's golden cases expect (so every one `--json`
// writes there) reads back into figures that write the same bytes.
TEST(WakesDocumentReader, EveryGoldenDocumentIsWrittenAgainByteForByte) {
    std::size_t documents = 0;
    for (const auto& entry : std::filesystem::directory_iterator(DORMISCOPE_VIEW_GOLDEN_DIR)) {
        SCOPED_TRACE(entry.path().filename().string());
        const std::string document = ReadFile(entry.path());
        EXPECT_EQ(WrittenAgain(document), document);
        ++documents;
    }
    EXPECT_GE(documents, 12U);
}

// What the golden traces do not reach: symbols with a missing PDB, every kind
// of readier and routine, names beyond ASCII and the largest values.
TEST(WakesDocumentReader, FiguresBeyondTheGoldenCasesAreWrittenAgainByteForByte) {
    constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
    TraceFigures figures;
    figures.duration = kMax64;
    figures.processors = std::numeric_limits<std::uint32_t>::max();
    figures.wakes_per_second = 1.8e26;
    figures.idle_exit_cstates = {{0, 1}, {255, kMax64}};
    figures.idle_wakes_per_second_by_processor = {0, 2.5};
    figures.processors_without_events = {0, std::numeric_limits<std::uint32_t>::max()};
    figures.symbols = symbols::SymbolSummary{3, 1, {}, {}, {}};
    symbols::PdbIdentity pdb;
    pdb.pdb_name = "caf\xC3\xA9.pdb";
    pdb.guid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    pdb.age = 7;
    figures.symbols->missing = {pdb, pdb};
    figures.symbols->unreadable = {pdb};
    figures.symbols->without_identity = {"ntoskrnl.exe", "caf\xC3\xA9.dll"};
    for (const RoutineKind kind :
         {RoutineKind::kDpc, RoutineKind::kThreadedDpc, RoutineKind::kTimerDpc, RoutineKind::kInterrupt}) {
        figures.routines.push_back({kind, "driver.sys!Tick+0x4c", "driver.sys", 2, 0.5, 30, 15, 1, 1});
    }
    figures.coverage_notes = {"A note \"quoted\" \\ caf\xC3\xA9"};
    figures.trace_notes = {"Another note", "and a second"};
    figures.code.stacks_of_other_events = kMax64;
    ThreadFigures thread;
    thread.thread_id = 4;
    thread.name = L"w\u00e9 \xD83D\xDE00 \"x\"\n";
    thread.start = "ntdll.dll!TppWorkerThread";
    thread.wakes = kMax64;
    thread.intervals = IntervalFigure{3, 1, 10'000, kMax64};
    thread.periodicity_ms = std::numeric_limits<std::int32_t>::min();
    thread.regularity = 0.25;
    thread.period_classes = {{-5, 1}, {std::numeric_limits<std::int64_t>::max(), 2}};
    thread.top_readiers = std::vector<ReadierFigure>{
        {ReadierKind::kThread, 8, 12, L"<b>", 5, std::nullopt},
        {ReadierKind::kDpc, 0, 0, {}, 4, "ntoskrnl.exe+0x9000"},
        {ReadierKind::kDpc, 0, 0, {}, 3, std::nullopt},
        {ReadierKind::kUnknown, 0, 0, {}, 2, std::nullopt},
    };
    thread.wait_stacks = {{2, 0.5, {"ntoskrnl.exe+0x10", "unknown 0x7ff000"}}};
    thread.timeline.assign(kTimelineSlices, std::numeric_limits<std::uint32_t>::max());
    figures.processes.push_back(
        {std::numeric_limits<std::uint32_t>::max(), L"\u00e9.exe", L"\"C:\\\u00e9.exe\" -k x", kMax64, 1, {thread}});
    figures.processes.push_back({0, L"", L"", 0, 0, {ThreadFigures{}}});
    const std::string document = WakesJson(figures);
    EXPECT_EQ(WrittenAgain(document), document);
}

// A trace's UTF-16 name may hold half a surrogate pair; the document must
// still read back, so the writer puts U+FFFD in its place.
TEST(WakesDocumentReader, ANameWithALoneSurrogateIsWrittenSoThatItReadsBack) {
    TraceFigures figures;
    figures.processes.push_back({1, L"a\xDC00" L"b", L"", 0, 0, {}});
    figures.processes.back().threads.push_back(ThreadFigures{});
    figures.processes.back().threads.back().name = L"\xD800" L"c\xD83D\xDE00";
    const std::string document = WakesJson(figures);
    EXPECT_NE(document.find(R"("name":"a\ufffdb")"), std::string::npos);
    EXPECT_NE(document.find(R"("name":"\ufffdc\ud83d\ude00")"), std::string::npos);
    EXPECT_EQ(WrittenAgain(document), document);
}

TEST(WakesDocumentReader, KeysReadInAnyOrder) {
    const std::string document = ReadFile(std::filesystem::path(DORMISCOPE_VIEW_GOLDEN_DIR) / "readiers.json");
    std::string reordered = document;
    // The format's keys after the trace, and a readier's kind after its count.
    reordered.replace(0, std::string_view("{\"format\":\"dormiscope-wakes\",\"format_version\":1,").size(), "{");
    reordered.insert(reordered.rfind('}'), ",\"format_version\":1,\"format\":\"dormiscope-wakes\"");
    const std::size_t readier = reordered.find("{\"kind\":\"thread\",\"tid\":96,");
    ASSERT_NE(readier, std::string::npos);
    reordered.replace(readier, std::string_view("{\"kind\":\"thread\",").size(), "{");
    reordered.insert(reordered.find('}', readier), ",\"kind\":\"thread\"");
    EXPECT_EQ(WrittenAgain(reordered), document);
}

struct Refused {
    std::string name;
    std::string from;  // replaced in the golden document `readiers` (or, empty, the whole document is `to`)
    std::string to;
    std::string refusal;  // the whole message, or its start when it ends in "..."
};

std::vector<Refused> RefusedDocuments() {
    const std::string nested(100'000, '[');
    return {
        {"another format", "\"format\":\"dormiscope-wakes\"", "\"format\":\"dormiscope-report\"",
         "the document: the format is \"dormiscope-report\", not \"dormiscope-wakes\""},
        {"another version", "\"format_version\":1", "\"format_version\":2",
         "the document: format version 2; this dormiscope-view reads version 1"},
        {"no format", "", "{\"trace\":{},\"processes\":[]}",
         "the document: no \"format\" key: not a wakes document written by dormiscope-view --json"},
        {"not an object", "", "[1,2]",
         "the document: no \"format\" key: not a wakes document written by dormiscope-view --json"},
        {"format of the wrong type", "\"format\":\"dormiscope-wakes\"", "\"format\":7",
         "format: expected text, found a number"},
        {"empty", "", "", "not JSON: parse error at line 1, column 1: ..."},
        {"cut short", "\"threads\":[", "\"threads\":[{\"tid\":1", "not JSON: parse error at line 3, ..."},
        {"bytes after the document", "]}\n", "]}\n{}", "not JSON: parse error at line 4, ..."},
        {"not UTF-8", "\"app.exe\"", "\"app\xC3(.exe\"", "not JSON: parse error at line 3, ..."},
        {"a lone surrogate", "\"app.exe\"", "\"app\\udc00.exe\"", "not JSON: parse error at line 3, ..."},
        {"nested deeply", "", nested, "objects and arrays nest deeper than 8 levels"},
        {"nested inside a key", "\"coverage\":[", "\"coverage\":[[[[[[[[[]]]]]]]],",
         "objects and arrays nest deeper than 8 levels"},
        {"text for a count", "\"wakes\":6,", "\"wakes\":\"6\",", "trace.wakes: expected a whole number, found text"},
        {"null for an object", "\"code\":{", "\"code\":null,\"x\":{", "trace.code: expected an object, found null"},
        {"a negative count", "\"processors\":8", "\"processors\":-8",
         "trace.processors: expected a whole number of 0 or more, found -8"},
        {"a fraction for a count", "\"events\":19", "\"events\":1.5",
         "trace.events: expected a whole number up to 18446744073709551615, found 1.5"},
        {"beyond 64 bits", "\"events\":19", "\"events\":18446744073709551616",
         "trace.events: expected a whole number up to 18446744073709551615, found 18446744073709551616"},
        {"beyond 32 bits", "\"processors\":8", "\"processors\":4294967296",
         "trace.processors: 4294967296 is beyond the largest allowed, 4294967295"},
        {"beyond a double", "\"wakes_per_s\":8333.333", "\"wakes_per_s\":1e999",
         "not JSON: number overflow parsing '1e999'"},
        {"a rate too large", "\"wakes_per_s\":8333.333", "\"wakes_per_s\":1e40",
         "trace.wakes_per_s: expected a rate or share of 0 or more, below 1e30"},
        {"milliseconds beyond 64 bits", "\"duration_ms\":0.7200", "\"duration_ms\":1844674407370955.1616",
         "trace.duration_ms: expected a number of 0 or more with at most 4 decimals, found 1844674407370955.1616"},
        {"finer than 100 ns", "\"duration_ms\":0.7200", "\"duration_ms\":0.72001",
         "trace.duration_ms: expected a number of 0 or more with at most 4 decimals, found 0.72001"},
        {"milliseconds as an exponent", "\"duration_ms\":0.7200", "\"duration_ms\":7.2e-1",
         "trace.duration_ms: expected a number of 0 or more with at most 4 decimals, found 7.2e-1"},
        {"a missing key", "\"buffers_lost\":0,", "", "trace.buffers_lost: missing"},
        {"an unknown key", "\"buffers_lost\":0,", "\"buffers_lost\":0,\"extra\":1,",
         "trace.extra: not a key of this object"},
        {"a key twice", "\"tid\":100,", "\"tid\":100,\"tid\":100,", "processes[0].threads[0].tid: given twice"},
        {"a class twice", "\"idle_exit_cstates\":{\"1\":6}", "\"idle_exit_cstates\":{\"1\":6,\"1\":6}",
         "trace.idle_exit_cstates.1: the same class given twice"},
        {"a class that is no number", "\"idle_exit_cstates\":{\"1\":6}", "\"idle_exit_cstates\":{\"01\":6}",
         "trace.idle_exit_cstates.01: expected a whole number from 0 to 255 as the key"},
        {"another slice count", "\"timeline_slices\":48", "\"timeline_slices\":47",
         "trace.timeline_slices: this version's timelines have 48 slices"},
        {"a short timeline", "\"timeline\":[", "\"timeline\":[1,2,3],\"x\":[",
         "processes[0].threads[0].timeline: expected 48 slices, or none, found 3"},
        {"a readier of no kind", "{\"kind\":\"thread\",\"tid\":96,", "{\"kind\":\"someone\",\"tid\":96,",
         "processes[0].threads[0].readiers[0]: expected a \"kind\" of \"thread\", \"dpc\" or \"unknown\""},
        {"a thread readier's key on a DPC", "{\"kind\":\"thread\",\"tid\":96,", "{\"kind\":\"dpc\",\"tid\":96,",
         "processes[0].threads[0].readiers[0].tid: not a key of this object"},
        {"a periodicity without its unit", "\"periodicity\":null", "\"periodicity\":\"15\"",
         "processes[0].threads[0].periodicity: expected a periodicity such as \"15ms\""},
        {"a GUID of another shape", "\"symbols\":null",
         "\"symbols\":{\"modules\":1,\"modules_with_symbols\":0,\"missing\":[{\"pdb\":\"a.pdb\",\"guid\":\"{1234}\","
         "\"age\":1}]}",
         "trace.symbols.missing[0].guid: expected a GUID such as {12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
        {"a flag that is no boolean", "\"processes\":[]}",
         "\"processes\":[{\"pid\":1,\"name\":\"a.exe\",\"resolutions\":[],\"changes\":0,\"changes_per_s\":0,"
         "\"held_at_start\":1,\"held_at_end\":false,\"stack\":[]}]}",
         "trace.timer_requests.processes[0].held_at_start: expected true or false, found a number"},
        {"a resolution beyond 32 bits", "\"finest_ms\":null", "\"finest_ms\":429496.7296",
         "trace.timer_requests.finest_ms: expected a resolution up to 429496.7295 ms"},
        {"a PDB path", "\"symbols\":null",
         "\"symbols\":{\"modules\":1,\"modules_with_symbols\":0,\"missing\":[{\"pdb\":\"c:\\\\a.pdb\","
         "\"guid\":\"{12345678-9ABC-DEF0-1234-56789ABCDEF0}\",\"age\":1}]}",
         "trace.symbols.missing[0].pdb: expected a PDB's file name, found a path"},
    };
}

TEST(WakesDocumentReader, RefusesWithAMessageNamingWhatIsWrong) {
    const std::string golden = ReadFile(std::filesystem::path(DORMISCOPE_VIEW_GOLDEN_DIR) / "readiers.json");
    for (const Refused& refused : RefusedDocuments()) {
        SCOPED_TRACE(refused.name);
        std::string document = refused.to;
        if (!refused.from.empty()) {
            const std::size_t at = golden.find(refused.from);
            ASSERT_NE(at, std::string::npos);
            document = golden;
            document.replace(at, refused.from.size(), refused.to);
        }
        const WakesDocument read = ReadWakesDocument(document);
        EXPECT_FALSE(read.figures.has_value());
        const std::string_view expected = refused.refusal;
        if (expected.ends_with("...")) {
            EXPECT_TRUE(read.refusal.starts_with(expected.substr(0, expected.size() - 3))) << read.refusal;
        } else {
            EXPECT_EQ(read.refusal, expected);
        }
    }
}

}  // namespace
}  // namespace dormiscope::view
