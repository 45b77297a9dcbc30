#include "make_sample/scenario.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>

namespace dormiscope::sample {
namespace {

class ScenarioError : public std::runtime_error {
public:
    ScenarioError(std::size_t line, const std::string& message)
        : std::runtime_error("scenario line " + std::to_string(line) + ": " + message) {}
};

// Splits a line into words; double quotes group spaces into a word and are
// dropped, and \" inside them stands for a quote.
std::vector<std::string> SplitWords(const std::string& line, std::size_t line_number) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
                word += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = true;
            in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (in_word) {
                words.push_back(word);
                word.clear();
                in_word = false;
            }
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quoted) {
        throw ScenarioError(line_number, "unterminated quote");
    }
    if (in_word) {
        words.push_back(word);
    }
    return words;
}

template <typename T>
T ParseNumber(const std::string& text, std::size_t line, const std::string& what) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw ScenarioError(line, "bad number '" + text + "' for " + what);
    }
    return value;
}

Range ParseRange(const std::string& text, std::size_t line, const std::string& what) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        const auto value = ParseNumber<std::uint32_t>(text, line, what);
        return {value, value};
    }
    const Range range{ParseNumber<std::uint32_t>(text.substr(0, dash), line, what),
                      ParseNumber<std::uint32_t>(text.substr(dash + 1), line, what)};
    if (range.min > range.max) {
        throw ScenarioError(line, what + " range is reversed");
    }
    return range;
}

// The key=value settings of one directive; each is taken once, and any left
// over is a mistake.
class Settings {
public:
    Settings(const std::vector<std::string>& words, std::size_t line) : line_(line) {
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::size_t equals = words[i].find('=');
            if (equals == std::string::npos || equals == 0) {
                throw ScenarioError(line, "expected key=value, found '" + words[i] + "'");
            }
            if (!values_.emplace(words[i].substr(0, equals), words[i].substr(equals + 1)).second) {
                throw ScenarioError(line, "key '" + words[i].substr(0, equals) + "' given twice");
            }
        }
    }

    bool Has(const std::string& key) const { return values_.count(key) != 0; }

    std::string Text(const std::string& key, const std::string& fallback = {}) {
        const auto found = values_.find(key);
        if (found == values_.end()) {
            return fallback;
        }
        std::string value = found->second;
        values_.erase(found);
        return value;
    }

    std::string RequiredText(const std::string& key) {
        if (!Has(key)) {
            throw ScenarioError(line_, "missing " + key + "=");
        }
        return Text(key);
    }

    template <typename T>
    T Number(const std::string& key, T fallback) {
        return Has(key) ? ParseNumber<T>(Text(key), line_, key) : fallback;
    }

    template <typename T>
    T RequiredNumber(const std::string& key) {
        return ParseNumber<T>(RequiredText(key), line_, key);
    }

    Range RangeOf(const std::string& key, Range fallback) {
        return Has(key) ? ParseRange(Text(key), line_, key) : fallback;
    }

    void CheckAllUsed() const {
        if (!values_.empty()) {
            throw ScenarioError(line_, "unknown key '" + values_.begin()->first + "'");
        }
    }

private:
    std::size_t line_;
    std::map<std::string, std::string> values_;
};

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        if (comma > start) {
            items.push_back(text.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return items;
}

ProcessSpec ReadProcess(Settings& settings) {
    ProcessSpec process;
    process.pid = settings.RequiredNumber<std::uint32_t>("pid");
    process.parent = settings.Number<std::uint32_t>("parent", 0);
    process.session = settings.Number<std::uint32_t>("session", 0);
    process.image = settings.RequiredText("image");
    process.command_line = settings.Text("cmd");
    return process;
}

ThreadSpec ReadThread(Settings& settings, std::size_t line) {
    ThreadSpec thread;
    thread.tid = settings.RequiredNumber<std::uint32_t>("tid");
    thread.name = settings.Text("name");
    thread.priority = static_cast<std::int8_t>(settings.Number<int>("priority", 8));
    thread.period_ms = settings.Number<double>("period_ms", 0);
    thread.jitter_ms = settings.Number<double>("jitter_ms", 0);
    thread.cpu = settings.Number<std::uint32_t>("cpu", 0);
    thread.run_us = settings.Number<std::uint32_t>("run_us", 50);
    if (thread.period_ms < 0 || (thread.period_ms > 0 && thread.jitter_ms * 2 >= thread.period_ms)) {
        throw ScenarioError(line, "a period must be positive and more than twice its jitter");
    }
    if (thread.period_ms > 0 && thread.run_us >= thread.period_ms * 1000) {
        throw ScenarioError(line, "a periodic thread must run for less than its period");
    }
    return thread;
}

// seed, duration_ms and processors take a single bare value.
void ReadSingleValue(Scenario& scenario, const std::vector<std::string>& words, std::size_t line) {
    const std::string& directive = words[0];
    if (words.size() != 2) {
        throw ScenarioError(line, directive + " takes one value");
    }
    if (directive == "seed") {
        scenario.seed = ParseNumber<std::uint64_t>(words[1], line, directive);
    } else if (directive == "duration_ms") {
        scenario.duration_ms = ParseNumber<double>(words[1], line, directive);
        if (scenario.duration_ms <= 0) {
            throw ScenarioError(line, "the duration must be positive");
        }
    } else {
        scenario.processors = ParseNumber<std::uint32_t>(words[1], line, directive);
        if (scenario.processors == 0 || scenario.processors > 256) {
            throw ScenarioError(line, "processors must be 1 to 256");
        }
    }
}

BackgroundSpec ReadBackground(Settings& settings, std::size_t line) {
    BackgroundSpec background;
    background.count = settings.RequiredNumber<std::uint32_t>("count");
    background.threads = settings.RangeOf("threads", {1, 1});
    background.parent = settings.Number<std::uint32_t>("parent", 0);
    background.images = SplitList(settings.RequiredText("images"));
    if (background.images.empty()) {
        throw ScenarioError(line, "background needs at least one image name");
    }
    return background;
}

NoiseSpec ReadNoise(Settings& settings, std::size_t line) {
    NoiseSpec noise;
    noise.threads = settings.RequiredNumber<std::uint32_t>("threads");
    noise.rate_hz = settings.Number<double>("rate_hz", 1);
    noise.run_us = settings.RangeOf("run_us", {10, 100});
    if (noise.rate_hz <= 0) {
        throw ScenarioError(line, "the noise rate must be positive");
    }
    return noise;
}

LaunchSpec ReadLaunch(Settings& settings, std::size_t line) {
    LaunchSpec launch;
    launch.at_ms = settings.RequiredNumber<double>("at_ms");
    launch.life_ms = settings.RequiredNumber<double>("life_ms");
    launch.threads = settings.Number<std::uint32_t>("threads", 1);
    launch.process = ReadProcess(settings);
    if (launch.at_ms < 0 || launch.life_ms <= 0 || launch.threads == 0) {
        throw ScenarioError(line, "a launch needs a start, a positive life and a thread");
    }
    return launch;
}

}  // namespace

Scenario ParseScenario(std::istream& text) {
    Scenario scenario;
    std::set<std::uint32_t> pids;
    std::set<std::uint32_t> tids;
    std::string line;
    std::size_t line_number = 0;
    while (std::getline(text, line)) {
        ++line_number;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        const std::vector<std::string> words = SplitWords(line, line_number);
        const std::string& directive = words[0];
        if (directive == "seed" || directive == "duration_ms" || directive == "processors") {
            ReadSingleValue(scenario, words, line_number);
            continue;
        }
        if (directive != "process" && directive != "thread" && directive != "background" && directive != "noise" &&
            directive != "launch") {
            throw ScenarioError(line_number, "unknown directive '" + directive + "'");
        }
        Settings settings(words, line_number);
        if (directive == "process") {
            scenario.processes.push_back(ReadProcess(settings));
            if (!pids.insert(scenario.processes.back().pid).second) {
                throw ScenarioError(line_number, "pid given twice");
            }
        } else if (directive == "thread") {
            if (scenario.processes.empty()) {
                throw ScenarioError(line_number, "a thread needs a process before it");
            }
            scenario.processes.back().threads.push_back(ReadThread(settings, line_number));
            if (!tids.insert(scenario.processes.back().threads.back().tid).second) {
                throw ScenarioError(line_number, "tid given twice");
            }
        } else if (directive == "background") {
            scenario.background = ReadBackground(settings, line_number);
        } else if (directive == "noise") {
            scenario.noise = ReadNoise(settings, line_number);
        } else {
            scenario.launches.push_back(ReadLaunch(settings, line_number));
            if (!pids.insert(scenario.launches.back().process.pid).second) {
                throw ScenarioError(line_number, "pid given twice");
            }
        }
        settings.CheckAllUsed();
    }
    // Checked at the end: the processor count may come after the threads.
    for (const ProcessSpec& process : scenario.processes) {
        for (const ThreadSpec& thread : process.threads) {
            if (thread.cpu >= scenario.processors) {
                throw std::runtime_error("scenario: thread " + std::to_string(thread.tid) + " runs on cpu " +
                                         std::to_string(thread.cpu) + ", which does not exist");
            }
        }
    }
    return scenario;
}

}  // namespace dormiscope::sample
