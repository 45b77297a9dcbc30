// Payload bytes of the kernel's Process, Thread, CSwitch, ReadyThread and
// SetName events, packed exactly as the kernel logs them (no padding between
// properties).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dormiscope::etl {

// A SID in its binary form: revision 1, sub-authority count, the 6-byte
// big-endian identifier authority, then the sub-authorities.
std::vector<std::uint8_t> SidBytes(std::uint64_t identifier_authority,
                                   const std::vector<std::uint32_t>& sub_authorities);
// S-1-5-18, the account most rundown processes run under.
std::vector<std::uint8_t> LocalSystemSid();

struct ProcessFields {
    std::uint64_t UniqueProcessKey = 0xFFFF'C000'1234'0080;
    std::uint32_t ProcessId = 0;
    std::uint32_t ParentId = 0;
    std::uint32_t SessionId = 0;
    std::int32_t ExitStatus = 0x103;  // STILL_ACTIVE
    std::uint64_t DirectoryTableBase = 0x1AD000;  // also the v1 PageDirectoryBase
    std::uint32_t Flags = 0;
    // Written as TOKEN_USER (2 × pointer size, with a kernel-looking pointer)
    // followed by this SID. Empty: the 4-byte zero form (no SID).
    std::vector<std::uint8_t> sid = LocalSystemSid();
    std::string ImageFileName{};  // raw bytes, a NUL is appended
    std::u16string CommandLine{};
    std::u16string PackageFullName{};
    std::u16string ApplicationId{};
    std::int64_t ExitTime = 0;  // version 5 only
};

// Process_V0..V4_TypeGroup1, and version 5 (v4 + ExitTime) for Defunct.
// Throws std::invalid_argument for another version or a pointer size not 4/8.
std::vector<std::uint8_t> ProcessPayload(std::uint16_t version, std::uint32_t pointer_size,
                                         const ProcessFields& fields);

struct ThreadFields {
    std::uint32_t ProcessId = 0;
    std::uint32_t TThreadId = 0;
    std::uint64_t StackBase = 0xFFFF'F80A'1234'0000;
    std::uint64_t StackLimit = 0xFFFF'F80A'1233'A000;
    std::uint64_t UserStackBase = 0x0000'00F1'4478'0000;
    std::uint64_t UserStackLimit = 0x0000'00F1'4477'2000;
    std::uint64_t StartAddr = 0x0000'7FF9'93BB'3D00;      // versions 1 and 2
    std::uint64_t Affinity = 0xFF;                        // versions 3 and 4
    std::uint64_t Win32StartAddr = 0x0000'7FF9'93BB'3D60;
    std::uint64_t TebBase = 0x0000'00F1'4448'B000;
    std::uint32_t SubProcessTag = 0;
    std::uint8_t BasePriority = 8;
    std::uint8_t PagePriority = 5;
    std::uint8_t IoPriority = 2;
    std::uint8_t ThreadFlags = 0;
    std::int8_t WaitMode = 0;  // version 1, opcodes 1 and 3
};

// Thread_V0..V4 payloads. `opcode` matters only for version 1 (End/DCEnd carry
// just the two ids). `name` is appended as a NUL-terminated UTF-16 string
// after the described fields (the untyped trailing name of Windows 10's
// version 3); version 4 always ends with its ThreadName, empty if not given.
std::vector<std::uint8_t> ThreadPayload(std::uint16_t version, std::uint8_t opcode,
                                        std::uint32_t pointer_size, const ThreadFields& fields,
                                        const std::optional<std::u16string>& name = std::nullopt);

struct CSwitchFields {
    std::uint32_t NewThreadId = 0;
    std::uint32_t OldThreadId = 0;
    std::int8_t NewThreadPriority = 8;
    std::int8_t OldThreadPriority = 8;
    std::uint8_t PreviousCState = 1;
    std::int8_t SpareByte = 0;
    std::int8_t OldThreadWaitReason = 6;  // UserRequest
    std::int8_t OldThreadWaitMode = 1;    // UserMode
    std::int8_t OldThreadState = 5;       // Waiting
    std::int8_t OldThreadWaitIdealProcessor = 0;
    std::uint32_t NewThreadWaitTime = 0;
    std::uint32_t Reserved = 0;
};

// The 24-byte CSwitch payload (the same for versions 2 to 5).
std::vector<std::uint8_t> CSwitchPayload(const CSwitchFields& fields);

inline constexpr std::uint8_t kReadiedFromDpc = 0x01;  // ReadyThread Flag bit 0

struct ReadyThreadFields {
    std::uint32_t TThreadId = 0;
    std::int8_t AdjustReason = 1;  // unwait
    std::int8_t AdjustIncrement = 1;
    std::uint8_t Flag = 0;
    std::int8_t Reserved = 0;
};

// The 8-byte ReadyThread payload (version 2).
std::vector<std::uint8_t> ReadyThreadPayload(const ReadyThreadFields& fields);

// The SetName payload (version 2): the ids, then the NUL-terminated UTF-16 name.
std::vector<std::uint8_t> SetNamePayload(std::uint32_t process_id, std::uint32_t thread_id,
                                         const std::u16string& name);

}  // namespace dormiscope::etl
