#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/compare/comparison.h"

namespace dormiscope::view {
namespace {

ThreadFigures Thread(std::uint32_t tid, std::wstring name, std::optional<std::string> start, std::uint64_t wakes) {
    ThreadFigures thread;
    thread.thread_id = tid;
    thread.name = std::move(name);
    thread.start = std::move(start);
    thread.wakes = wakes;
    return thread;
}

ProcessFigures Process(std::uint32_t pid, std::wstring name, std::wstring command_line,
                       std::vector<ThreadFigures> threads) {
    ProcessFigures process;
    process.process_id = pid;
    process.name = std::move(name);
    process.command_line = std::move(command_line);
    for (const ThreadFigures& thread : threads) {
        process.wakes += thread.wakes;
    }
    process.threads = std::move(threads);
    return process;
}

TraceFigures Figures(std::uint32_t processors, std::uint32_t pointer_size, std::vector<ProcessFigures> processes) {
    TraceFigures figures;
    figures.duration = 10'000'000;  // 1 s
    figures.processors = processors;
    figures.pointer_size = pointer_size;
    figures.processes = std::move(processes);
    for (const ProcessFigures& process : figures.processes) {
        figures.wakes += process.wakes;
    }
    return figures;
}

std::string Row(const ProcessComparison& row) {
    std::string line(row.name.begin(), row.name.end());
    line += row.command_line ? " [" + std::string(row.command_line->begin(), row.command_line->end()) + "]" : " *";
    return line + " " + std::to_string(row.processes_before) + "->" + std::to_string(row.processes_after) + " " +
           std::to_string(row.wakes.before) + "->" + std::to_string(row.wakes.after);
}

std::string Group(const ThreadGroupComparison& group) {
    return std::string(group.key.begin(), group.key.end()) + " " + std::to_string(group.threads_before) + "->" +
           std::to_string(group.threads_after) + " " + std::to_string(group.wakes.before) + "->" +
           std::to_string(group.wakes.after);
}

// A command line on one side only is no key: those processes merge per image.
// Threads with one key form one group; start frames no module placed are no key.
TEST(CompareFigures, MergesWhatCannotBeToldApartAndGroupsThreadsByKey) {
    const TraceFigures before = Figures(
        4, 4,
        {Process(1, L"svchost.exe", L"-k a", {Thread(10, L"", "ntdll.dll!TppWorkerThread", 10)}),
         Process(2, L"svchost.exe", L"-k b", {Thread(20, L"", "ntdll.dll!TppWorkerThread", 5)}),
         Process(3, L"app.exe", L"app", {Thread(30, L"", "ntdll.dll!TppWorkerThread", 1),
                                         Thread(31, L"", "ntdll.dll!TppWorkerThread", 2),
                                         Thread(32, L"ui", "app.exe+0x10", 3), Thread(33, L"", "unknown 0x7ff993bb3d60", 4)})});
    const TraceFigures after = Figures(
        8, 8,
        {Process(11, L"svchost.exe", L"-k a", {Thread(110, L"", "ntdll.dll!TppWorkerThread", 20)}),
         Process(12, L"svchost.exe", L"-k c", {Thread(120, L"", "ntdll.dll!TppWorkerThread", 7)}),
         Process(13, L"svchost.exe", L"-k d", {Thread(130, L"", "ntdll.dll!TppWorkerThread", 1)}),
         Process(14, L"app.exe", L"app", {Thread(140, L"", "ntdll.dll!TppWorkerThread", 3),
                                          Thread(141, L"", "ntdll.dll!TppWorkerThread", 3),
                                          Thread(142, L"", "ntdll.dll!TppWorkerThread", 3),
                                          Thread(143, L"ui", "app.exe+0x10", 3), Thread(144, L"", std::nullopt, 1)})});
    const Comparison comparison = CompareFigures(before, after);
    std::vector<std::string> rows;
    for (const ProcessComparison& row : comparison.processes) {
        rows.push_back(Row(row));
        for (const ThreadGroupComparison& group : row.groups) {
            rows.push_back("  " + Group(group));
        }
    }
    const std::vector<std::string> expected = {
        "svchost.exe [-k a] 1->1 10->20",  "  ntdll.dll!TppWorkerThread 1->1 10->20",
        "app.exe [app] 1->1 10->13",       "  ntdll.dll!TppWorkerThread 2->3 3->9",
        "  ui 1->1 3->3",                  "   1->1 4->1",
        "svchost.exe * 1->2 5->8",         "  ntdll.dll!TppWorkerThread 1->2 5->8",
    };
    EXPECT_EQ(rows, expected);
    ASSERT_EQ(comparison.notes.size(), 2U);
    EXPECT_NE(comparison.notes[0].find("(4 before, 8 after)"), std::string::npos);
    EXPECT_NE(comparison.notes[1].find("(32-bit before, 64-bit after)"), std::string::npos);
}

// The stacks of a group that got worse: those new or grown, most grown first.
TEST(CompareFigures, ListsTheStacksThatGrewForAGroupThatGotWorse) {
    ThreadFigures earlier = Thread(1, L"t", std::nullopt, 100);
    earlier.wait_stacks = {{60, 0.6, {"a"}}, {40, 0.4, {"b"}}};
    ThreadFigures later = Thread(2, L"t", std::nullopt, 1000);
    later.wait_stacks = {{900, 0.9, {"b"}}, {70, 0.07, {"c"}}, {30, 0.03, {"a"}}};
    const Comparison comparison = CompareFigures(Figures(4, 8, {Process(1, L"a.exe", L"", {earlier})}),
                                                 Figures(4, 8, {Process(2, L"a.exe", L"", {later})}));
    const ThreadGroupComparison& group = comparison.processes.at(0).groups.at(0);
    ASSERT_EQ(group.wait_stacks.size(), 2U);
    EXPECT_EQ(group.wait_stacks[0].frames, std::vector<std::string>{"b"});
    EXPECT_DOUBLE_EQ(group.wait_stacks[0].before_per_second, 40);
    EXPECT_DOUBLE_EQ(group.wait_stacks[0].after_per_second, 900);
    EXPECT_EQ(group.wait_stacks[1].frames, std::vector<std::string>{"c"});
    EXPECT_TRUE(comparison.notes.empty());
}

}  // namespace
}  // namespace dormiscope::view
