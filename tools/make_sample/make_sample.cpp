// make_sample <scenario-file> <output.etl> [<program-images-folder>]: writes
// the kernel trace an idle machine described by the scenario would record,
// and prints what it holds. Programs whose image (with its linker's map) the
// folder holds get that image's PDB identity and functions.
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "make_sample/sample_generator.h"
#include "make_sample/scenario.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: make_sample <scenario-file> <output.etl> [<program-images-folder>]\n";
        return 2;
    }
    try {
        std::ifstream scenario_file(argv[1]);
        if (!scenario_file) {
            std::cerr << "make_sample: cannot read " << argv[1] << "\n";
            return 1;
        }
        if (argc == 4 && !std::filesystem::is_directory(argv[3])) {
            std::cerr << "make_sample: " << argv[3] << " is no folder\n";
            return 1;
        }
        const dormiscope::sample::Scenario scenario = dormiscope::sample::ParseScenario(scenario_file);
        const dormiscope::sample::SampleSummary summary = dormiscope::sample::WriteSample(scenario, argv[2], argc == 4 ? argv[3] : "");
        std::cout << argv[2] << ": " << summary.file_size << " bytes, " << summary.buffers << " buffers, "
                  << summary.events << " events, " << summary.processes << " processes, " << summary.threads
                  << " threads, " << scenario.processors << " processors, " << scenario.duration_ms / 1000
                  << " s\n";
        for (const auto& [kind, count] : summary.events_by_kind) {
            std::cout << "  " << kind << ": " << count << "\n";
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "make_sample: " << error.what() << "\n";
        return 1;
    }
}
