#include "etl_writer/kernel_payloads.h"

#include <stdexcept>
#include <string>

#include "etl_writer/byte_output.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etl {
namespace {

// Kernel-looking values for the TOKEN_USER part of a SID blob; consumers
// ignore them, and real traces hold stale pointers there.
constexpr std::uint64_t kTokenUserSidPointer = 0xFFFF'B488'FCD4'4B60;

// The UserSID property: TOKEN_USER (2 × pointer size) then the SID, or a
// single zero ULONG when there is no SID.
void PutUserSid(Bytes& out, const std::vector<std::uint8_t>& sid, std::uint32_t pointer_size) {
    if (sid.empty()) {
        PutLE(out, std::uint32_t{0});
        return;
    }
    PutPointer(out, kTokenUserSidPointer, pointer_size);
    PutLE(out, std::uint32_t{0});  // Attributes
    if (pointer_size == 8) {
        PutLE(out, static_cast<std::uint32_t>(kTokenUserSidPointer >> 32));  // padding, not zeroed by the kernel
    }
    out.insert(out.end(), sid.begin(), sid.end());
}

}  // namespace

std::vector<std::uint8_t> SidBytes(std::uint64_t identifier_authority,
                                   const std::vector<std::uint32_t>& sub_authorities) {
    if (sub_authorities.size() > 15) {
        throw std::invalid_argument("a SID has at most 15 sub-authorities");
    }
    Bytes sid;
    sid.push_back(1);  // Revision
    sid.push_back(static_cast<std::uint8_t>(sub_authorities.size()));
    for (int shift = 40; shift >= 0; shift -= 8) {
        sid.push_back(static_cast<std::uint8_t>(identifier_authority >> shift));
    }
    for (std::uint32_t sub_authority : sub_authorities) {
        PutLE(sid, sub_authority);
    }
    return sid;
}

std::vector<std::uint8_t> LocalSystemSid() { return SidBytes(5, {18}); }

std::vector<std::uint8_t> ProcessPayload(std::uint16_t version, std::uint32_t pointer_size,
                                         const ProcessFields& fields) {
    CheckPointerSize(pointer_size);
    if (version > 5) {
        throw std::invalid_argument("no Process payload layout for version " + std::to_string(version));
    }
    Bytes out;
    if (version == 0) {
        PutPointer(out, fields.ProcessId, pointer_size);
        PutPointer(out, fields.ParentId, pointer_size);
        PutUserSid(out, fields.sid, pointer_size);
        PutAnsiZ(out, fields.ImageFileName);
        return out;
    }
    PutPointer(out, version == 1 ? fields.DirectoryTableBase : fields.UniqueProcessKey, pointer_size);
    PutLE(out, fields.ProcessId);
    PutLE(out, fields.ParentId);
    PutLE(out, fields.SessionId);
    PutLE(out, fields.ExitStatus);
    if (version >= 3) {
        PutPointer(out, fields.DirectoryTableBase, pointer_size);
    }
    if (version >= 4) {
        PutLE(out, fields.Flags);
    }
    PutUserSid(out, fields.sid, pointer_size);
    PutAnsiZ(out, fields.ImageFileName);
    if (version >= 2) {
        PutUtf16Z(out, fields.CommandLine);
    }
    if (version >= 4) {
        PutUtf16Z(out, fields.PackageFullName);
        PutUtf16Z(out, fields.ApplicationId);
    }
    if (version == 5) {
        PutLE(out, fields.ExitTime);
    }
    return out;
}

std::vector<std::uint8_t> ThreadPayload(std::uint16_t version, std::uint8_t opcode, std::uint32_t pointer_size,
                                        const ThreadFields& fields, const std::optional<std::u16string>& name) {
    CheckPointerSize(pointer_size);
    if (version > 4) {
        throw std::invalid_argument("no Thread payload layout for version " + std::to_string(version));
    }
    Bytes out;
    auto pointer = [&](std::uint64_t value) { PutPointer(out, value, pointer_size); };
    if (version == 0) {
        PutLE(out, fields.TThreadId);
        PutLE(out, fields.ProcessId);
    } else {
        PutLE(out, fields.ProcessId);
        PutLE(out, fields.TThreadId);
    }
    const bool ids_only = version == 0 || (version == 1 && (opcode == kOpcodeEnd || opcode == kOpcodeDCEnd));
    if (!ids_only) {
        pointer(fields.StackBase);
        pointer(fields.StackLimit);
        pointer(fields.UserStackBase);
        pointer(fields.UserStackLimit);
        pointer(version >= 3 ? fields.Affinity : fields.StartAddr);
        pointer(fields.Win32StartAddr);
        if (version == 1) {
            PutLE(out, fields.WaitMode);
        } else {
            pointer(fields.TebBase);
            PutLE(out, fields.SubProcessTag);
        }
        if (version >= 3) {
            PutLE(out, fields.BasePriority);
            PutLE(out, fields.PagePriority);
            PutLE(out, fields.IoPriority);
            PutLE(out, fields.ThreadFlags);
        }
    }
    if (version == 4 || name) {
        PutUtf16Z(out, name.value_or(u""));
    }
    return out;
}

std::vector<std::uint8_t> CSwitchPayload(const CSwitchFields& fields) {
    Bytes out;
    PutLE(out, fields.NewThreadId);
    PutLE(out, fields.OldThreadId);
    PutLE(out, fields.NewThreadPriority);
    PutLE(out, fields.OldThreadPriority);
    PutLE(out, fields.PreviousCState);
    PutLE(out, fields.SpareByte);
    PutLE(out, fields.OldThreadWaitReason);
    PutLE(out, fields.OldThreadWaitMode);
    PutLE(out, fields.OldThreadState);
    PutLE(out, fields.OldThreadWaitIdealProcessor);
    PutLE(out, fields.NewThreadWaitTime);
    PutLE(out, fields.Reserved);
    return out;
}

std::vector<std::uint8_t> ReadyThreadPayload(const ReadyThreadFields& fields) {
    Bytes out;
    PutLE(out, fields.TThreadId);
    PutLE(out, fields.AdjustReason);
    PutLE(out, fields.AdjustIncrement);
    PutLE(out, fields.Flag);
    PutLE(out, fields.Reserved);
    return out;
}

std::vector<std::uint8_t> SetNamePayload(std::uint32_t process_id, std::uint32_t thread_id,
                                         const std::u16string& name) {
    Bytes out;
    PutLE(out, process_id);
    PutLE(out, thread_id);
    PutUtf16Z(out, name);
    return out;
}

}  // namespace dormiscope::etl
