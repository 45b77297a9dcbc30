#include "view/collect/timer_requests.h"

#include <algorithm>

#include "platform/kernel_power_events.h"
#include "report/name_text.h"

namespace dormiscope::view {
namespace {

double PerSecond(std::uint64_t count, std::uint64_t duration) {
    return duration == 0 ? 0.0 : static_cast<double>(count) * 1e7 / static_cast<double>(duration);
}

// The file part of a path the power manager logs ("\Device\HarddiskVolume2\…\game.exe").
std::wstring FilePart(const std::u16string& path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::u16string_view file = slash == std::u16string::npos ? std::u16string_view(path)
                                                                    : std::u16string_view(path).substr(slash + 1);
    return std::wstring(file.begin(), file.end());
}

}  // namespace

std::uint64_t TimerRequests::OffsetOf(std::int64_t time) const {
    if (time <= window_.start) {
        return 0;
    }
    return std::min(static_cast<std::uint64_t>(time - window_.start), window_.duration);
}

void TimerRequests::Request(Requester& requester, std::uint32_t resolution, std::uint64_t at) {
    if (requester.open && requester.open->resolution == resolution) {
        return;
    }
    if (requester.open) {
        requester.open->to = at;
        requester.closed.push_back(*requester.open);
        requester.open.reset();
    }
    if (resolution != 0) {
        requester.open = Hold{resolution, at, at};
    }
}

void TimerRequests::Outstanding(Requester& requester, std::uint32_t resolution, std::uint64_t at) {
    if (resolution == 0) {
        return;
    }
    if (!requester.open) {
        requester.open = Hold{resolution, 0, 0};
    } else {
        Request(requester, resolution, at);
    }
}

void TimerRequests::Event(const TimerResolutionEventData& record, std::uint64_t idle_wakes) {
    ++events_;
    const std::uint64_t at = OffsetOf(record.TimeStamp);
    checkpoints_.push_back({std::max(at, checkpoints_.back().at), idle_wakes});
    switch (record.id) {
        case kEventTimeResolutionChange: {
            Requester& requester = processes_[record.Pid];
            if (!record.AppName.empty()) {
                requester.app_name = record.AppName;
            }
            ++requester.changes;
            Request(requester, record.Requested, at);
            break;
        }
        case kEventTimeResolutionRequestRundown:
        case kEventTimerResolutionStackRundown: {
            Requester& requester = processes_[record.Pid];
            if (!record.AppName.empty()) {
                requester.app_name = record.AppName;
            }
            Outstanding(requester, record.Requested, at);
            if (record.id == kEventTimerResolutionStackRundown && !record.Stack.empty()) {
                requester.stack = record.Stack;
                requester.stack_time = record.TimeStamp;
            }
            break;
        }
        case kEventTimeResolutionRundown:
            if (record.MaximumPeriod != 0) {
                default_period_ = record.MaximumPeriod;
            }
            if (record.KernelRequestCount != 0) {
                Outstanding(kernel_, record.KernelRequestedPeriod, at);
            }
            break;
        case kEventTimeResolutionKernelChange:
            kernel_changes_.push_back({at, record.Requested});
            Request(kernel_, record.Requested, at);
            break;
        default:
            break;
    }
}

void TimerRequests::Finish(std::uint64_t idle_wakes) {
    checkpoints_.push_back({window_.duration, idle_wakes});
}

void TimerRequests::Sweep(TimerResolutionFigures& figures) const {
    // +1 where a hold starts, -1 where it ends; holds start and end at checkpoints.
    std::vector<std::pair<std::uint64_t, std::pair<std::uint32_t, int>>> boundaries;
    const auto add = [&](const Requester& requester) {
        for (const Hold& hold : requester.closed) {
            boundaries.push_back({hold.from, {hold.resolution, +1}});
            boundaries.push_back({hold.to, {hold.resolution, -1}});
        }
        if (requester.open) {
            boundaries.push_back({requester.open->from, {requester.open->resolution, +1}});
        }
    };
    for (const auto& [process_id, requester] : processes_) {
        add(requester);
    }
    add(kernel_);
    std::stable_sort(boundaries.begin(), boundaries.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });

    std::map<std::uint32_t, int> outstanding;
    std::map<std::uint32_t, std::pair<std::uint64_t, std::uint64_t>> by_resolution;  // time, idle wakes
    std::size_t next = 0;
    for (std::size_t index = 0; index + 1 < checkpoints_.size(); ++index) {
        const Checkpoint& from = checkpoints_[index];
        const Checkpoint& to = checkpoints_[index + 1];
        for (; next < boundaries.size() && boundaries[next].first <= from.at; ++next) {
            const auto [resolution, change] = boundaries[next].second;
            if ((outstanding[resolution] += change) == 0) {
                outstanding.erase(resolution);
            }
        }
        if (to.at <= from.at && index != 0) {
            continue;
        }
        const std::uint32_t effective =
            outstanding.empty() ? default_period_ : std::min(default_period_, outstanding.begin()->first);
        if (figures.effective.empty() || figures.effective.back().resolution != effective) {
            figures.effective.push_back({from.at, effective});
        }
        auto& [time, idle] = by_resolution[effective];
        time += to.at - from.at;
        idle += to.idle_wakes - std::min(to.idle_wakes, from.idle_wakes);
    }

    const auto finest = std::find_if(by_resolution.begin(), by_resolution.end(),
                                     [](const auto& level) { return level.second.first > 0; });
    if (finest == by_resolution.end() || finest->first >= default_period_) {
        return;
    }
    figures.finest = finest->first;
    const auto [finest_time, finest_idle] = finest->second;
    figures.idle_wakes_per_second_at_finest = PerSecond(finest_idle, finest_time);
    const std::uint64_t other_time = window_.duration - std::min(window_.duration, finest_time);
    if (other_time > 0) {
        const std::uint64_t idle = checkpoints_.back().idle_wakes;
        figures.idle_wakes_per_second_otherwise = PerSecond(idle - std::min(idle, finest_idle), other_time);
    }
}

TimerResolutionFigures TimerRequests::Figures(const TraceModel& model, ModuleMaps& modules,
                                              FrameNames& frame_names) const {
    TimerResolutionFigures figures;
    figures.events = events_;
    figures.unknown_layout = unknown_layout_;
    figures.kernel_changes = kernel_changes_;
    if (events_ == 0) {
        return figures;
    }
    const std::uint64_t duration = window_.duration;
    for (const auto& [process_id, requester] : processes_) {
        std::vector<Hold> holds = requester.closed;
        if (requester.open) {
            holds.push_back({requester.open->resolution, requester.open->from, duration});
        }
        if (holds.empty()) {
            continue;  // a release without a request
        }
        TimerRequestFigure figure;
        figure.process_id = process_id;
        const auto known = model.ProcessIndex.find(process_id);
        figure.name = known != model.ProcessIndex.end() ? NameText(known->second->ImageFileName)
                                                        : FilePart(requester.app_name);
        std::map<std::uint32_t, std::uint64_t> held;
        for (const Hold& hold : holds) {
            held[hold.resolution] += hold.to - hold.from;
            figure.held_at_start = figure.held_at_start || hold.from == 0;
        }
        for (const auto& [resolution, time] : held) {
            figure.holds.push_back(
                {resolution, time, duration == 0 ? 0.0 : static_cast<double>(time) / static_cast<double>(duration)});
        }
        figure.changes = requester.changes;
        figure.changes_per_second = PerSecond(requester.changes, duration);
        figure.held_at_end = requester.open.has_value();
        for (const std::uint64_t address : requester.stack) {
            figure.stack.push_back(frame_names.Name(modules.Resolve(process_id, address, requester.stack_time)));
        }
        figures.requests.push_back(std::move(figure));
    }
    std::stable_sort(figures.requests.begin(), figures.requests.end(), [](const auto& left, const auto& right) {
        const TimerHoldFigure& a = left.holds.front();
        const TimerHoldFigure& b = right.holds.front();
        return a.resolution != b.resolution ? a.resolution < b.resolution : a.held > b.held;
    });
    Sweep(figures);
    return figures;
}

}  // namespace dormiscope::view
