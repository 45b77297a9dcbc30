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
    if (const auto found = identities_.find({image.ProcessId, image.ImageBase}); found != identities_.end()) {
        module->pdb = found->second;
    }
    modules_.push_back(std::move(module));
    return *modules_.back();
}

ModuleMaps::Loaded* ModuleMaps::OpenAt(ProcessMap& map, std::uint64_t base) {
    for (auto loaded = map.loaded.rbegin(); loaded != map.loaded.rend(); ++loaded) {
        if (loaded->start == base && loaded->unloaded_at == kAfterTrace) {
            return &*loaded;
        }
    }
    return nullptr;
}

std::int64_t ModuleMaps::LastUnloadAt(const ProcessMap& map, std::uint64_t base) {
    std::int64_t last = kBeforeTrace;
    for (const Loaded& loaded : map.loaded) {
        if (loaded.start == base && loaded.unloaded_at != kAfterTrace) {
            last = std::max(last, loaded.unloaded_at);
        }
    }
    return last;
}

void ModuleMaps::Add(const ImageEventData& image) {
    if (image.ImageSize == 0) {
        ++damage_.empty_images;
        return;
    }
    ProcessMap& map = processes_[image.ProcessId];
    Loaded* const open = OpenAt(map, image.ImageBase);
    const std::uint64_t end = image.ImageBase + std::min(image.ImageSize, ~image.ImageBase);
    switch (image.opcode) {
        case kOpcodeImageUnload:
            if (open != nullptr) {
                open->unloaded_at = image.TimeStamp;
            } else {
                // Loaded unseen: since the last unload at this base, or since before the trace.
                map.loaded.push_back(
                    {image.ImageBase, end, LastUnloadAt(map, image.ImageBase), image.TimeStamp, &NewModule(image)});
                map.sorted = false;
            }
            return;
        case kOpcodeImageDCStart:
        case kOpcodeImageDCEnd:
            // A rundown shows what is loaded: already known, or there since before the trace.
            if (open == nullptr) {
                map.loaded.push_back({image.ImageBase, end, kBeforeTrace, kAfterTrace, &NewModule(image)});
                map.sorted = false;
            }
            return;
        case kOpcodeImageLoad:
            break;
        default:
            return;
    }
    for (const Loaded& other : map.loaded) {
        if (other.unloaded_at == kAfterTrace && other.start < end && image.ImageBase < other.end) {
            ++damage_.overlapping_images;
            break;
        }
    }
    map.loaded.push_back({image.ImageBase, end, image.TimeStamp, kAfterTrace, &NewModule(image)});
    map.sorted = false;
}

void ModuleMaps::Add(const ImageIdentityEventData& identity) {
    symbols::PdbIdentity pdb{identity.PdbGuid, identity.Age, identity.PdbFileName};
    // The record may come after the image event it describes.
    if (const auto found = processes_.find(identity.ProcessId); found != processes_.end()) {
        if (Loaded* const open = OpenAt(found->second, identity.ImageBase)) {
            open->module->pdb = pdb;
        }
    }
    identities_[{identity.ProcessId, identity.ImageBase}] = std::move(pdb);
}

void ModuleMaps::Sort(ProcessMap& map) {
    // Stable: of two modules loaded at one base, the later one stays later.
    std::stable_sort(map.loaded.begin(), map.loaded.end(),
                     [](const Loaded& left, const Loaded& right) { return left.start < right.start; });
    map.end_so_far.resize(map.loaded.size());
    std::uint64_t largest = 0;
    for (std::size_t index = 0; index < map.loaded.size(); ++index) {
        largest = std::max(largest, map.loaded[index].end);
        map.end_so_far[index] = largest;
    }
    map.sorted = true;
}

const ModuleMaps::Loaded* ModuleMaps::Covering(ProcessMap& map, std::uint64_t address, std::int64_t time) {
    if (!map.sorted) {
        Sort(map);
    }
    const auto after = std::upper_bound(map.loaded.begin(), map.loaded.end(), address,
                                        [](std::uint64_t value, const Loaded& loaded) { return value < loaded.start; });
    const Loaded* best = nullptr;
    // Walk down from the last module starting at or below the address while
    // one of them may still reach it.
    for (auto index = static_cast<std::size_t>(after - map.loaded.begin()); index > 0; --index) {
        if (map.end_so_far[index - 1] <= address) {
            break;
        }
        const Loaded& loaded = map.loaded[index - 1];
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
