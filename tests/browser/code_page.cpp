// Writes the wake page of a hand-written JSON document (code_page.json) that
// holds what the written traces do not: stacks with many frames, frames and
// routines whose texts are markup or too long for a line, every kind of DPC
// readier and routine. The summary's figures are the document's.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "view/page/flame_data.h"
#include "view/page/wakes_page.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: code_page DOCUMENT.json PAGE.html\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string json{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in) {
        std::fprintf(stderr, "code_page: cannot read %s\n", argv[1]);
        return 1;
    }
    dormiscope::view::TraceFigures figures;
    figures.duration = 100'000'000;
    figures.processors = 2;
    figures.events = 2'500;
    figures.context_switches = 1'800;
    figures.ready_events = 900;
    figures.wakes = 900;
    figures.wakes_per_second = 90;
    figures.idle_wakes = 900;
    figures.idle_wakes_per_second_by_processor = {60, 30};
    figures.idle_exit_cstates = {{1, 900}};
    std::ofstream out(argv[2], std::ios::binary);
    out << dormiscope::view::WakesPage(figures, json, dormiscope::view::FlameData(figures), "code.etl");
    if (!out.flush()) {
        std::fprintf(stderr, "code_page: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
