// Which module covers an address in a process at a moment: per-process maps
// of the images the trace saw loaded, each with the time it was loaded and
// unloaded. Kernel modules are those of process 0 and are seen from every
// process.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "etw/stack_event_records.h"
#include "view/stacks/open_extents.h"
#include "view/symbols/pdb_identity.h"

namespace dormiscope {

// One image as loaded at one base for one stretch of the trace: all the
// symbol reader needs to find its PDB and turn an offset into a function.
struct ModuleIdentity {
    std::u16string file_name;  // as the Image event names it
    std::uint64_t image_base = 0;
    std::uint64_t image_size = 0;
    std::uint32_t time_date_stamp = 0;
    std::uint32_t checksum = 0;
    std::optional<symbols::PdbIdentity> pdb;  // from the image's debug record, when the trace has one
};

// An address as module + offset; no module when none covered it then.
struct ResolvedFrame {
    const ModuleIdentity* module = nullptr;
    std::uint64_t offset = 0;  // from the image base, or the address itself when there is no module
};

// Image events that could not be used as they were.
struct ModuleMapDamage {
    std::uint64_t empty_images = 0;        // size 0: ignored
    std::uint64_t overlapping_images = 0;  // loaded over another loaded module; the later one wins
};

inline constexpr std::int64_t kBeforeTrace = std::numeric_limits<std::int64_t>::min();
inline constexpr std::int64_t kAfterTrace = std::numeric_limits<std::int64_t>::max();

class ModuleMaps {
public:
    // Events in the order they were delivered.
    void Add(const ImageEventData& image);
    void Add(const ImageIdentityEventData& identity);

    // The module of `process_id` (or, failing that, the kernel's) that covered
    // `address` at `time`.
    ResolvedFrame Resolve(std::uint32_t process_id, std::uint64_t address, std::int64_t time);

    const ModuleMapDamage& damage() const { return damage_; }
    std::size_t module_count() const { return modules_.size(); }

private:
    struct Loaded {
        std::uint64_t start;
        std::uint64_t end;
        std::int64_t loaded_at;
        std::int64_t unloaded_at;
        ModuleIdentity* module;
    };
    // The modules seen at one base of a process.
    struct Base {
        std::vector<std::size_t> open;            // indices into the process's modules, latest last
        std::int64_t last_unload_at = kBeforeTrace;  // when a module here last went
    };
    // Every look-up is by ordered maps, never by hash: bases and process ids
    // come from the trace and could be chosen to collide.
    struct ProcessMap {
        std::vector<Loaded> loaded;             // in the order the events came
        std::vector<std::size_t> by_start;      // indices into `loaded` by start, once sorted
        std::vector<std::uint64_t> end_so_far;  // the largest end among by_start[0..i]
        bool sorted = true;
        std::map<std::uint64_t, Base> bases;
        OpenExtents open;
    };
    using Key = std::pair<std::uint32_t, std::uint64_t>;  // process, base

    ModuleIdentity& NewModule(const ImageEventData& image);
    static void Open(ProcessMap& map, Base& base, const Loaded& loaded);
    static void Close(ProcessMap& map, Base& base, std::int64_t time);
    static void Sort(ProcessMap& map);
    static const Loaded* Covering(ProcessMap& map, std::uint64_t address, std::int64_t time);

    std::map<std::uint32_t, ProcessMap> processes_;
    std::vector<std::unique_ptr<ModuleIdentity>> modules_;
    // Identity records seen before any image at their base: each is for the
    // next image loaded there, and only for that one.
    std::map<Key, symbols::PdbIdentity> waiting_identities_;
    ModuleMapDamage damage_;
};

// The frame as the page shows it: "module+0xoffset" with the image's file
// name (without its folder), or "unknown 0xaddress" where no module covered it.
std::string FrameText(const ResolvedFrame& frame);

// The frame's module: the image's file name without its folder, or "unknown".
std::string ModuleText(const ResolvedFrame& frame);

}  // namespace dormiscope
