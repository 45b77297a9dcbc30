#include "platform/trace_data_helper/tdh_kernel_schemas.h"

#include <array>

namespace dormiscope {
namespace {

// The MOF declarations map to these types: format("x") integers are shown in
// hexadecimal, the pointer qualifier makes a pointer-sized value, the "Sid"
// extension a TOKEN_USER with its SID, and format("w") strings are UTF-16.
constexpr PropertySchema Hex32(std::u16string_view name) {
    return {name, TDH_INTYPE_UINT32, TDH_OUTTYPE_HEXINT32, PropertyEncoding::Fixed, 4};
}
constexpr PropertySchema UInt32(std::u16string_view name) {
    return {name, TDH_INTYPE_UINT32, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 4};
}
constexpr PropertySchema Int32(std::u16string_view name) {
    return {name, TDH_INTYPE_INT32, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 4};
}
constexpr PropertySchema UInt8(std::u16string_view name) {
    return {name, TDH_INTYPE_UINT8, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 1};
}
constexpr PropertySchema UInt64(std::u16string_view name) {
    return {name, TDH_INTYPE_UINT64, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 8};
}
constexpr PropertySchema UInt16(std::u16string_view name) {
    return {name, TDH_INTYPE_UINT16, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 2};
}
constexpr PropertySchema Guid(std::u16string_view name) {
    return {name, TDH_INTYPE_GUID, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 16};
}
constexpr PropertySchema Int8(std::u16string_view name) {
    return {name, TDH_INTYPE_INT8, TDH_OUTTYPE_NULL, PropertyEncoding::Fixed, 1};
}
constexpr PropertySchema FileTime(std::u16string_view name) {
    return {name, TDH_INTYPE_FILETIME, TDH_OUTTYPE_DATETIME, PropertyEncoding::Fixed, 8};
}
constexpr PropertySchema Pointer(std::u16string_view name) {
    return {name, TDH_INTYPE_POINTER, TDH_OUTTYPE_NULL, PropertyEncoding::Pointer, 0};
}
// A code or image address: pointer-sized, shown in hexadecimal.
constexpr PropertySchema Address(std::u16string_view name) {
    return {name, TDH_INTYPE_POINTER, TDH_OUTTYPE_HEXINT64, PropertyEncoding::Pointer, 0};
}
constexpr PropertySchema Sid(std::u16string_view name) {
    return {name, TDH_INTYPE_WBEMSID, TDH_OUTTYPE_NULL, PropertyEncoding::TokenUserSid, 0};
}
constexpr PropertySchema Ansi(std::u16string_view name) {
    return {name, TDH_INTYPE_ANSISTRING, TDH_OUTTYPE_NULL, PropertyEncoding::AnsiString, 0};
}
constexpr PropertySchema Utf16(std::u16string_view name) {
    return {name, TDH_INTYPE_UNICODESTRING, TDH_OUTTYPE_NULL, PropertyEncoding::Utf16String, 0};
}

// Version 5 is version 4 with the exit time appended. It has been seen on
// Defunct events; every process event type accepts it, so that a system that
// writes it for starts and rundowns too is read all the same.
constexpr std::array kProcessV5 = {
    Pointer(u"UniqueProcessKey"), Hex32(u"ProcessId"), Hex32(u"ParentId"), UInt32(u"SessionId"),
    Int32(u"ExitStatus"), Pointer(u"DirectoryTableBase"), UInt32(u"Flags"), Sid(u"UserSID"),
    Ansi(u"ImageFileName"), Utf16(u"CommandLine"), Utf16(u"PackageFullName"), Utf16(u"ApplicationId"),
    FileTime(u"ExitTime"),
};
constexpr std::array kProcessV3 = {
    Pointer(u"UniqueProcessKey"), Hex32(u"ProcessId"), Hex32(u"ParentId"), UInt32(u"SessionId"),
    Int32(u"ExitStatus"), Pointer(u"DirectoryTableBase"), Sid(u"UserSID"), Ansi(u"ImageFileName"),
    Utf16(u"CommandLine"),
};
constexpr std::array kProcessV2 = {
    Pointer(u"UniqueProcessKey"), Hex32(u"ProcessId"), Hex32(u"ParentId"), UInt32(u"SessionId"),
    Int32(u"ExitStatus"), Sid(u"UserSID"), Ansi(u"ImageFileName"), Utf16(u"CommandLine"),
};
constexpr std::array kProcessV1 = {
    Pointer(u"PageDirectoryBase"), Hex32(u"ProcessId"), Hex32(u"ParentId"), UInt32(u"SessionId"),
    Int32(u"ExitStatus"), Sid(u"UserSID"), Ansi(u"ImageFileName"),
};
// Version 0 still wrote the process ids pointer-sized.
constexpr std::array kProcessV0 = {
    Pointer(u"ProcessId"), Pointer(u"ParentId"), Sid(u"UserSID"), Ansi(u"ImageFileName"),
};

// Version 4 is version 3 with the thread name; version 3 events of some
// releases carry that name too, but their class does not describe it.
constexpr std::array kThreadV4 = {
    Hex32(u"ProcessId"), Hex32(u"TThreadId"), Pointer(u"StackBase"), Pointer(u"StackLimit"),
    Pointer(u"UserStackBase"), Pointer(u"UserStackLimit"), Pointer(u"Affinity"), Pointer(u"Win32StartAddr"),
    Pointer(u"TebBase"), Hex32(u"SubProcessTag"), UInt8(u"BasePriority"), UInt8(u"PagePriority"),
    UInt8(u"IoPriority"), UInt8(u"ThreadFlags"), Utf16(u"ThreadName"),
};
constexpr std::array kThreadV2 = {
    Hex32(u"ProcessId"), Hex32(u"TThreadId"), Pointer(u"StackBase"), Pointer(u"StackLimit"),
    Pointer(u"UserStackBase"), Pointer(u"UserStackLimit"), Pointer(u"StartAddr"), Pointer(u"Win32StartAddr"),
    Pointer(u"TebBase"), Hex32(u"SubProcessTag"),
};
// Version 1 end events (opcodes 2 and 4) carry only the first two.
constexpr std::array kThreadV1 = {
    Hex32(u"ProcessId"), Hex32(u"TThreadId"), Pointer(u"StackBase"), Pointer(u"StackLimit"),
    Pointer(u"UserStackBase"), Pointer(u"UserStackLimit"), Pointer(u"StartAddr"), Pointer(u"Win32StartAddr"),
    Int8(u"WaitMode"),
};
constexpr std::array kThreadV0 = {Hex32(u"TThreadId"), Hex32(u"ProcessId")};

// From version 4 on, the class names the eighth field after its flag bits.
constexpr std::array kCSwitchV2 = {
    Hex32(u"NewThreadId"), Hex32(u"OldThreadId"), Int8(u"NewThreadPriority"), Int8(u"OldThreadPriority"),
    UInt8(u"PreviousCState"), Int8(u"SpareByte"), Int8(u"OldThreadWaitReason"), Int8(u"OldThreadWaitMode"),
    Int8(u"OldThreadState"), Int8(u"OldThreadWaitIdealProcessor"), Hex32(u"NewThreadWaitTime"),
    UInt32(u"Reserved"),
};
constexpr std::array kCSwitchV4 = {
    Hex32(u"NewThreadId"), Hex32(u"OldThreadId"), Int8(u"NewThreadPriority"), Int8(u"OldThreadPriority"),
    UInt8(u"PreviousCState"), Int8(u"SpareByte"), Int8(u"OldThreadWaitReason"), Int8(u"ThreadFlags"),
    Int8(u"OldThreadState"), Int8(u"OldThreadWaitIdealProcessor"), Hex32(u"NewThreadWaitTime"),
    UInt32(u"Reserved"),
};

// Logged when a thread becomes ready to run; Flag bit 0 says a DPC readied it.
constexpr std::array kReadyThreadV2 = {
    Hex32(u"TThreadId"), Int8(u"AdjustReason"), Int8(u"AdjustIncrement"), Int8(u"Flag"), Int8(u"Reserved"),
};
// Logged when an application names a thread; the payload carries the ids.
constexpr std::array kSetNameV2 = {Hex32(u"ProcessId"), Hex32(u"ThreadId"), Utf16(u"ThreadName")};

// Version 3 splits version 2's first reserved field into the image's
// signature level and type.
constexpr std::array kImageV3 = {
    Address(u"ImageBase"), Pointer(u"ImageSize"), Hex32(u"ProcessId"), UInt32(u"ImageCheckSum"),
    UInt32(u"TimeDateStamp"), UInt8(u"SignatureLevel"), UInt8(u"SignatureType"), UInt16(u"Reserved0"),
    Address(u"DefaultBase"), UInt32(u"Reserved1"), UInt32(u"Reserved2"), UInt32(u"Reserved3"),
    UInt32(u"Reserved4"), Utf16(u"FileName"),
};
constexpr std::array kImageV2 = {
    Address(u"ImageBase"), Pointer(u"ImageSize"), Hex32(u"ProcessId"), UInt32(u"ImageCheckSum"),
    UInt32(u"TimeDateStamp"), UInt32(u"Reserved0"), Address(u"DefaultBase"), UInt32(u"Reserved1"),
    UInt32(u"Reserved2"), UInt32(u"Reserved3"), UInt32(u"Reserved4"), Utf16(u"FileName"),
};
// An image's CodeView record: which PDB describes it.
constexpr std::array kImageDebugRecordV2 = {
    Address(u"ImageBase"), Hex32(u"ProcessId"), Guid(u"GuidSig"), UInt32(u"Age"), Ansi(u"PdbFileName"),
};
// The addresses that follow a stack or a key definition are as many as the
// payload holds; their count depends on the data, so the classes describe
// only what leads.
constexpr std::array kStackV2 = {UInt64(u"EventTimeStamp"), Hex32(u"StackProcess"), UInt32(u"StackThread")};
constexpr std::array kStackKeyDefinitionV2 = {Address(u"StackKey")};
constexpr std::array kStackKeyReferenceV2 = {
    UInt64(u"EventTimeStamp"), Hex32(u"StackProcess"), UInt32(u"StackThread"), Address(u"StackKey"),
};
// InitialTime is the raw clock value when the routine was entered.
constexpr std::array kDpcV2 = {UInt64(u"InitialTime"), Address(u"Routine")};
constexpr std::array kIsrV2 = {
    UInt64(u"InitialTime"), Address(u"Routine"), UInt8(u"ReturnValue"), UInt8(u"Vector"), UInt16(u"Reserved"),
};

constexpr std::array<UCHAR, 4> kLifetimeOpcodes = {kOpcodeStart, kOpcodeEnd, kOpcodeDCStart, kOpcodeDCEnd};
constexpr std::array<UCHAR, 5> kProcessOpcodes = {kOpcodeStart, kOpcodeEnd, kOpcodeDCStart, kOpcodeDCEnd,
                                                  kOpcodeDefunct};
constexpr std::array<UCHAR, 2> kStartOpcodes = {kOpcodeStart, kOpcodeDCStart};
constexpr std::array<UCHAR, 2> kEndOpcodes = {kOpcodeEnd, kOpcodeDCEnd};
constexpr std::array<UCHAR, 1> kCSwitchOpcode = {kOpcodeCSwitch};
constexpr std::array<UCHAR, 1> kReadyThreadOpcode = {kOpcodeReadyThread};
constexpr std::array<UCHAR, 1> kSetNameOpcode = {kOpcodeSetName};

constexpr std::array<UCHAR, 4> kImageOpcodes = {kOpcodeImageUnload, kOpcodeImageDCStart, kOpcodeImageDCEnd,
                                                kOpcodeImageLoad};
constexpr std::array<UCHAR, 2> kImageDebugRecordOpcodes = {kOpcodeImageDebugRecord, kOpcodeImageDebugRecordIl};
constexpr std::array<UCHAR, 1> kStackOpcode = {kOpcodeStack};
constexpr std::array<UCHAR, 2> kStackKeyDefinitionOpcodes = {kOpcodeStackKeyDelete, kOpcodeStackKeyRundown};
constexpr std::array<UCHAR, 2> kStackKeyReferenceOpcodes = {kOpcodeStackKeyKernel, kOpcodeStackKeyUser};
constexpr std::array<UCHAR, 3> kDpcOpcodes = {kOpcodeThreadedDpc, kOpcodeDpc, kOpcodeTimerDpc};
constexpr std::array<UCHAR, 1> kIsrOpcode = {kOpcodeIsr};

using Class = KernelEventClass;

const std::array kSchemas = {
    EventClassSchema{Class::Process, 0, kLifetimeOpcodes, kProcessV0},
    EventClassSchema{Class::Process, 1, kLifetimeOpcodes, kProcessV1},
    EventClassSchema{Class::Process, 2, kProcessOpcodes, kProcessV2},
    EventClassSchema{Class::Process, 3, kProcessOpcodes, kProcessV3},
    EventClassSchema{Class::Process, 4, kProcessOpcodes, std::span(kProcessV5).first(12)},
    EventClassSchema{Class::Process, 5, kProcessOpcodes, kProcessV5},
    EventClassSchema{Class::Thread, 0, kLifetimeOpcodes, kThreadV0},
    EventClassSchema{Class::Thread, 1, kStartOpcodes, kThreadV1},
    EventClassSchema{Class::Thread, 1, kEndOpcodes, std::span(kThreadV1).first(2)},
    EventClassSchema{Class::Thread, 2, kLifetimeOpcodes, kThreadV2},
    EventClassSchema{Class::Thread, 3, kLifetimeOpcodes, std::span(kThreadV4).first(14)},
    EventClassSchema{Class::Thread, 4, kLifetimeOpcodes, kThreadV4},
    EventClassSchema{Class::Thread, 2, kCSwitchOpcode, kCSwitchV2},
    EventClassSchema{Class::Thread, 3, kCSwitchOpcode, kCSwitchV2},
    EventClassSchema{Class::Thread, 4, kCSwitchOpcode, kCSwitchV4},
    EventClassSchema{Class::Thread, 5, kCSwitchOpcode, kCSwitchV4},
    EventClassSchema{Class::Thread, kReadyThreadVersion, kReadyThreadOpcode, kReadyThreadV2},
    EventClassSchema{Class::Thread, kSetNameVersion, kSetNameOpcode, kSetNameV2},
    EventClassSchema{Class::Image, kImageVersionWin7, kImageOpcodes, kImageV2},
    EventClassSchema{Class::Image, kImageVersion, kImageOpcodes, kImageV3},
    EventClassSchema{Class::ImageIdentity, kImageIdentityVersion, kImageDebugRecordOpcodes, kImageDebugRecordV2},
    EventClassSchema{Class::StackWalk, kStackWalkVersion, kStackOpcode, kStackV2},
    EventClassSchema{Class::StackWalk, kStackWalkVersion, kStackKeyDefinitionOpcodes, kStackKeyDefinitionV2},
    EventClassSchema{Class::StackWalk, kStackWalkVersion, kStackKeyReferenceOpcodes, kStackKeyReferenceV2},
    EventClassSchema{Class::PerfInfo, kPerfInfoVersion, kDpcOpcodes, kDpcV2},
    EventClassSchema{Class::PerfInfo, kPerfInfoVersion, kIsrOpcode, kIsrV2},
};

}  // namespace

std::span<const EventClassSchema> KernelEventSchemas() {
    return kSchemas;
}

}  // namespace dormiscope
