#include "view/stacks/module_maps.h"

#include <algorithm>

#include "platform/kernel_event_classes.h"
#include "view/symbols/frame_text.h"

namespace dormiscope {
namespace {

constexpr std::uint32_t kKernelProcess = 0;

void AppendUtf8(std::string& text, char32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The file name after the last folder separator, as UTF-8; a lone surrogate
// becomes U+FFFD.
std::string ModuleName(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    std::string text;
    for (std::size_t index = 0; index < name.size(); ++index) {
        char32_t code = name[index];
        const bool high = code >= 0xD800 && code < 0xDC00;
        if (high && index + 1 < name.size() && name[index + 1] >= 0xDC00 && name[index + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (name[++index] - 0xDC00);
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(text, code);
    }
    return text;
}

}  // namespace

ModuleIdentity& ModuleMaps::NewModule(const ImageEventData& image) {
    auto module = std::make_unique<ModuleIdentity>();
    module->file_name = image.FileName;
    module->image_base = image.ImageBase;
    module->image_size = image.ImageSize;
    module->time_date_stamp = image.TimeDateStamp;
    module->checksum = image.ImageCheckSum;
    if (const auto found = waiting_identities_.find({image.ProcessId, image.ImageBase});
        found != waiting_identities_.end()) {
        module->pdb = std::move(found->second);
        waiting_identities_.erase(found);
    }
    modules_.push_back(std::move(module));
    return *modules_.back();
}

void ModuleMaps::Open(ProcessMap& map, Base& base, const Loaded& loaded) {
    const std::size_t index = map.loaded.size();
    map.loaded.push_back(loaded);
    base.open.push_back(index);
    map.open.Insert(loaded.start, loaded.end, index);
    map.sorted = false;
}

void ModuleMaps::Close(ProcessMap& map, Base& base, std::int64_t time) {
    const std::size_t index = base.open.back();
    base.open.pop_back();
    Loaded& loaded = map.loaded[index];
    loaded.unloaded_at = time;
    map.open.Erase(loaded.start, loaded.end, index);
    base.last_unload_at = std::max(base.last_unload_at, time);
}

void ModuleMaps::Add(const ImageEventData& image) {
    if (image.ImageSize == 0) {
        ++damage_.empty_images;
        return;
    }
    ProcessMap& map = processes_[image.ProcessId];
    Base& base = map.bases[image.ImageBase];
    const std::uint64_t end = image.ImageBase + std::min(image.ImageSize, ~image.ImageBase);
    switch (image.opcode) {
        case kOpcodeImageUnload:
            if (!base.open.empty()) {
                Close(map, base, image.TimeStamp);
            } else {
                // Loaded unseen: since the last unload at this base, or since before the trace.
                map.loaded.push_back(
                    {image.ImageBase, end, base.last_unload_at, image.TimeStamp, &NewModule(image)});
                map.sorted = false;
                base.last_unload_at = std::max(base.last_unload_at, image.TimeStamp);
            }
            return;
        case kOpcodeImageDCStart:
        case kOpcodeImageDCEnd:
            // A rundown shows what is loaded: already known, or there since before the trace.
            if (base.open.empty()) {
                Open(map, base, {image.ImageBase, end, kBeforeTrace, kAfterTrace, &NewModule(image)});
            }
            return;
        case kOpcodeImageLoad:
            break;
        default:
            return;
    }
    if (map.open.Meets(image.ImageBase, end)) {
        ++damage_.overlapping_images;
    }
    Open(map, base, {image.ImageBase, end, image.TimeStamp, kAfterTrace, &NewModule(image)});
}

void ModuleMaps::Add(const ImageIdentityEventData& identity) {
    symbols::PdbIdentity pdb{identity.PdbGuid, identity.Age, identity.PdbFileName};
    // The record may come after the image event it describes.
    if (const auto process = processes_.find(identity.ProcessId); process != processes_.end()) {
        ProcessMap& map = process->second;
        if (const auto base = map.bases.find(identity.ImageBase); base != map.bases.end() && !base->second.open.empty()) {
            map.loaded[base->second.open.back()].module->pdb = std::move(pdb);
            return;
        }
    }
    waiting_identities_[{identity.ProcessId, identity.ImageBase}] = std::move(pdb);
}

void ModuleMaps::Sort(ProcessMap& map) {
    // Stable: of two modules loaded at one base, the later one stays later.
    map.by_start.resize(map.loaded.size());
    for (std::size_t index = 0; index < map.by_start.size(); ++index) {
        map.by_start[index] = index;
    }
    std::stable_sort(map.by_start.begin(), map.by_start.end(), [&map](std::size_t left, std::size_t right) {
        return map.loaded[left].start < map.loaded[right].start;
    });
    map.end_so_far.resize(map.by_start.size());
    std::uint64_t largest = 0;
    for (std::size_t index = 0; index < map.by_start.size(); ++index) {
        largest = std::max(largest, map.loaded[map.by_start[index]].end);
        map.end_so_far[index] = largest;
    }
    map.sorted = true;
}

const ModuleMaps::Loaded* ModuleMaps::Covering(ProcessMap& map, std::uint64_t address, std::int64_t time) {
    if (!map.sorted) {
        Sort(map);
    }
    const auto after =
        std::upper_bound(map.by_start.begin(), map.by_start.end(), address,
                         [&map](std::uint64_t value, std::size_t loaded) { return value < map.loaded[loaded].start; });
    const Loaded* best = nullptr;
    // Walk down from the last module starting at or below the address while
    // one of them may still reach it.
    for (auto index = static_cast<std::size_t>(after - map.by_start.begin()); index > 0; --index) {
        if (map.end_so_far[index - 1] <= address) {
            break;
        }
        const Loaded& loaded = map.loaded[map.by_start[index - 1]];
        if (address < loaded.end && loaded.loaded_at <= time && time < loaded.unloaded_at &&
            (best == nullptr || loaded.loaded_at > best->loaded_at)) {
            best = &loaded;
        }
    }
    return best;
}

ResolvedFrame ModuleMaps::Resolve(std::uint32_t process_id, std::uint64_t address, std::int64_t time) {
    for (const std::uint32_t owner : {process_id, kKernelProcess}) {
        const auto found = processes_.find(owner);
        if (found == processes_.end()) {
            continue;
        }
        if (const Loaded* const loaded = Covering(found->second, address, time)) {
            return {loaded->module, address - loaded->start};
        }
    }
    return {nullptr, address};
}

std::string FrameText(const ResolvedFrame& frame) {
    if (frame.module == nullptr) {
        return symbols::UnknownFrameText(frame.offset);
    }
    return symbols::FrameText(ModuleName(frame.module->file_name), frame.offset, nullptr);
}

std::string ModuleText(const ResolvedFrame& frame) {
    return frame.module == nullptr ? "unknown" : ModuleName(frame.module->file_name);
}

}  // namespace dormiscope
