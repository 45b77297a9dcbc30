// The kernel logger's vocabulary, spelled once for everything that reads,
// writes, dumps or describes kernel events: the groups its buffers carry and
// the provider (event-class) GUID consumers see for each, the classes whose
// payloads dormiscope decodes (with the relogger's image identity records)
// with their names, opcodes and versions.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/etw_api.h"

namespace dormiscope {

// Packet.Group of the system, compact and perfinfo headers.
inline constexpr std::uint8_t kGroupEventTrace = 0x00;
inline constexpr std::uint8_t kGroupProcess = 0x03;
inline constexpr std::uint8_t kGroupThread = 0x05;
inline constexpr std::uint8_t kGroupPerfInfo = 0x0F;
inline constexpr std::uint8_t kGroupImage = 0x14;
inline constexpr std::uint8_t kGroupStackWalk = 0x18;

struct KernelGroup {
    GUID provider;
    std::u16string_view name;
};

// Indexed by group number.
inline constexpr std::array<KernelGroup, 31> kKernelGroups = {{
    {{0x68FDD900, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}}, u"EventTrace"},
    {{0x3D6FA8D4, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}, u"DiskIo"},
    {{0x3D6FA8D3, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}, u"PageFault"},
    {{0x3D6FA8D0, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}, u"Process"},
    {{0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}}, u"FileIo"},
    {{0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}, u"Thread"},
    {{0x9A280AC0, 0xC8E0, 0x11D1, {0x84, 0xE2, 0x00, 0xC0, 0x4F, 0xB9, 0x98, 0xA2}}, u"TcpIp"},
    {{0x3282FC76, 0xFEED, 0x498E, {0x8A, 0xA7, 0xE7, 0x0F, 0x45, 0x9D, 0x43, 0x0E}}, u"Job"},
    {{0xBF3A50C5, 0xA9C9, 0x4988, {0xA0, 0x05, 0x2D, 0xF0, 0xB7, 0xC8, 0x0F, 0x80}}, u"UdpIp"},
    {{0xAE53722E, 0xC863, 0x11D2, {0x86, 0x59, 0x00, 0xC0, 0x4F, 0xA3, 0x21, 0xA1}}, u"Registry"},
    {{0x13976D09, 0xA327, 0x438C, {0x95, 0x0B, 0x7F, 0x03, 0x19, 0x28, 0x15, 0xC7}}, u"DbgPrint"},
    {{0x01853A65, 0x418F, 0x4F36, {0xAE, 0xFC, 0xDC, 0x0F, 0x1D, 0x2F, 0xD2, 0x35}}, u"SystemConfig"},
    {{0x99134383, 0x5248, 0x43FC, {0x83, 0x4B, 0x52, 0x94, 0x54, 0xE7, 0x5D, 0xF3}}, u"Spare1"},
    {{0x42695762, 0xEA50, 0x497A, {0x90, 0x68, 0x5C, 0xBB, 0xB3, 0x5E, 0x0B, 0x95}}, u"Wnf"},
    {{0x0268A8B6, 0x74FD, 0x4302, {0x9D, 0xD0, 0x6E, 0x8F, 0x17, 0x95, 0xC0, 0xCF}}, u"Pool"},
    {{0xCE1DBFB4, 0x137E, 0x4DA6, {0x87, 0xB0, 0x3F, 0x59, 0xAA, 0x10, 0x2C, 0xBC}}, u"PerfInfo"},
    {{0x222962AB, 0x6180, 0x4B88, {0xA8, 0x25, 0x34, 0x6B, 0x75, 0xF2, 0xA2, 0x4A}}, u"Heap"},
    {{0x89497F50, 0xEFFE, 0x4440, {0x8C, 0xF2, 0xCE, 0x6B, 0x1C, 0xDC, 0xAC, 0xA7}}, u"Object"},
    {{0xE43445E0, 0x0903, 0x48C3, {0xB8, 0x78, 0xFF, 0x0F, 0xCC, 0xEB, 0xDD, 0x04}}, u"Power"},
    {{0xA9152F00, 0x3F58, 0x4BEE, {0x92, 0xA1, 0x70, 0xC7, 0xD0, 0x79, 0xD5, 0xDD}}, u"ModBound"},
    {{0x2CB15D1D, 0x5FC1, 0x11D2, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x11, 0xF5, 0x18}}, u"Image"},
    {{0xB2D14872, 0x7C5B, 0x463D, {0x84, 0x19, 0xEE, 0x9B, 0xF7, 0xD2, 0x3E, 0x04}}, u"Dpc"},
    {{0x7687A439, 0xF752, 0x45B8, {0xB7, 0x41, 0x32, 0x1A, 0xEC, 0x0F, 0x8D, 0xF9}}, u"Cc"},
    {{0x3AC66736, 0xCC59, 0x4CFF, {0x81, 0x15, 0x8D, 0xF5, 0x0E, 0x39, 0x81, 0x6B}}, u"CritSec"},
    {{0xDEF2FE46, 0x7BD6, 0x4B80, {0xBD, 0x94, 0xF5, 0x7F, 0xE2, 0x0D, 0x0C, 0xE3}}, u"StackWalk"},
    {{0x9AEC974B, 0x5B8E, 0x4118, {0x9B, 0x92, 0x31, 0x86, 0xD8, 0x00, 0x2C, 0xE5}}, u"Ums"},
    {{0x45D8CCCD, 0x539F, 0x4B72, {0xA8, 0xB7, 0x5C, 0x68, 0x31, 0x42, 0x60, 0x9A}}, u"ALPC"},
    {{0xD837CA92, 0x12B9, 0x44A5, {0xAD, 0x6A, 0x3A, 0x65, 0xB3, 0x57, 0x8A, 0xA8}}, u"SplitIo"},
    {{0xC861D0E2, 0xA2C1, 0x4D36, {0x9F, 0x9C, 0x97, 0x0B, 0xAB, 0x94, 0x3A, 0x12}}, u"ThreadPool"},
    {{0x7F2A405C, 0x69B5, 0x4BF9, {0xA1, 0xF5, 0x30, 0xE8, 0xF1, 0xAF, 0xAB, 0x5E}}, u"Hypervisor"},
    {{0x2CE9A149, 0xEFFE, 0x42F0, {0xA6, 0x35, 0xA1, 0xD3, 0x9E, 0x26, 0xC8, 0xF2}}, u"HypervisorX"},
}};

// The provider GUID of kernel group `group`. A group without a known class
// gets {000000gg-0000-0000-0000-000000000000}: no provider uses it, so no
// consumer matches it by mistake, and the group stays visible in Data1.
constexpr GUID KernelGroupProvider(std::uint8_t group) {
    if (group < kKernelGroups.size()) {
        return kKernelGroups[group].provider;
    }
    return GUID{group, 0, 0, {}};
}

inline constexpr GUID kEventTraceProvider = KernelGroupProvider(kGroupEventTrace);
inline constexpr GUID kProcessProvider = KernelGroupProvider(kGroupProcess);
inline constexpr GUID kThreadProvider = KernelGroupProvider(kGroupThread);
inline constexpr GUID kPerfInfoProvider = KernelGroupProvider(kGroupPerfInfo);
inline constexpr GUID kImageProvider = KernelGroupProvider(kGroupImage);
inline constexpr GUID kStackWalkProvider = KernelGroupProvider(kGroupStackWalk);
// {B3E675D7-2554-4F18-830B-2762732560DE}: image identity records, written by
// the relogger beside the kernel's events rather than by a kernel group.
inline constexpr GUID kImageIdentityProvider = {0xB3E675D7, 0x2554, 0x4F18,
                                                {0x83, 0x0B, 0x27, 0x62, 0x73, 0x25, 0x60, 0xDE}};

// The provider that declares every kernel class to the Trace Data Helper.
inline constexpr GUID kSystemTraceProvider = {0x9E814AAD, 0x3204, 0x11D2,
                                              {0x9A, 0x82, 0x00, 0x60, 0x08, 0xA8, 0x69, 0x39}};
inline constexpr std::u16string_view kSystemTraceProviderName = u"MSNT_SystemTrace";

// Opcodes (Packet.Type, or the descriptor's Opcode).
inline constexpr std::uint8_t kOpcodeHeader = 0;  // EventTrace: the log file header event
inline constexpr std::uint8_t kOpcodeStart = 1;
inline constexpr std::uint8_t kOpcodeEnd = 2;
inline constexpr std::uint8_t kOpcodeDCStart = 3;  // rundown of what runs when logging starts
inline constexpr std::uint8_t kOpcodeDCEnd = 4;    // rundown of what still runs when it stops
inline constexpr std::uint8_t kOpcodeCSwitch = 36;
inline constexpr std::uint8_t kOpcodeDefunct = 39;
inline constexpr std::uint8_t kOpcodeReadyThread = 50;
inline constexpr std::uint8_t kOpcodeSetName = 72;

// Image: a load, an unload, and the rundown of what was loaded when logging
// started (DCStart) or stopped (DCEnd).
inline constexpr std::uint8_t kOpcodeImageUnload = 2;
inline constexpr std::uint8_t kOpcodeImageDCStart = 3;
inline constexpr std::uint8_t kOpcodeImageDCEnd = 4;
inline constexpr std::uint8_t kOpcodeImageLoad = 10;
// Image identity: an image's CodeView record (PDB GUID, age, PDB file name);
// the second form is written for the IL images of managed code.
inline constexpr std::uint8_t kOpcodeImageDebugRecord = 36;
inline constexpr std::uint8_t kOpcodeImageDebugRecordIl = 37;
// StackWalk: a stack written whole, or a cached one: a definition gives a key
// its addresses (when the cache drops the key, or at rundown) and a
// reference names the key for the kernel or the user part of an event's stack.
inline constexpr std::uint8_t kOpcodeStack = 32;
inline constexpr std::uint8_t kOpcodeStackKeyDelete = 35;
inline constexpr std::uint8_t kOpcodeStackKeyRundown = 36;
inline constexpr std::uint8_t kOpcodeStackKeyKernel = 37;
inline constexpr std::uint8_t kOpcodeStackKeyUser = 38;
// PerfInfo: each logged when the routine returns.
inline constexpr std::uint8_t kOpcodeThreadedDpc = 66;
inline constexpr std::uint8_t kOpcodeIsr = 67;
inline constexpr std::uint8_t kOpcodeDpc = 68;
inline constexpr std::uint8_t kOpcodeTimerDpc = 69;

// The kernel walks at most this many frames of a stack.
inline constexpr std::size_t kMaxStackFrames = 192;

// Versions: the kernel logs the header, readies and thread names in one
// version only; version 3 thread events end in a name their schema omits.
inline constexpr std::uint8_t kHeaderVersion = 2;
inline constexpr std::uint8_t kReadyThreadVersion = 2;
inline constexpr std::uint8_t kSetNameVersion = 2;
inline constexpr std::uint8_t kThreadVersionWithTrailingName = 3;
// Image events are version 2 up to Windows 7; version 3 splits the first
// reserved field into the signature level and type.
inline constexpr std::uint8_t kImageVersionWin7 = 2;
inline constexpr std::uint8_t kImageVersion = 3;
inline constexpr std::uint8_t kImageIdentityVersion = 2;
inline constexpr std::uint8_t kStackWalkVersion = 2;
inline constexpr std::uint8_t kPerfInfoVersion = 2;

// The classes whose payloads the Trace Data Helper describes.
enum class KernelEventClass : std::uint8_t { Process, Thread, Image, ImageIdentity, StackWalk, PerfInfo };

struct KernelEventClassInfo {
    GUID provider;
    std::u16string_view name;
};

// Indexed by KernelEventClass.
inline constexpr std::array<KernelEventClassInfo, 6> kKernelEventClasses = {{
    {kProcessProvider, kKernelGroups[kGroupProcess].name},
    {kThreadProvider, kKernelGroups[kGroupThread].name},
    {kImageProvider, kKernelGroups[kGroupImage].name},
    {kImageIdentityProvider, u"ImageId"},
    {kStackWalkProvider, kKernelGroups[kGroupStackWalk].name},
    {kPerfInfoProvider, kKernelGroups[kGroupPerfInfo].name},
}};

constexpr GUID ProviderOf(KernelEventClass event_class) {
    return kKernelEventClasses[static_cast<std::size_t>(event_class)].provider;
}

constexpr std::u16string_view ClassNameOf(KernelEventClass event_class) {
    return kKernelEventClasses[static_cast<std::size_t>(event_class)].name;
}

static_assert(sizeof(GUID) == 16, "a GUID is compared as two 64-bit halves");

// Two comparisons instead of eleven: every Trace Data Helper call looks up the
// event's class by its provider.
constexpr bool SameGuid(const GUID& left, const GUID& right) {
    using Halves = std::array<std::uint64_t, 2>;
    const auto left_halves = std::bit_cast<Halves>(left);
    const auto right_halves = std::bit_cast<Halves>(right);
    return left_halves[0] == right_halves[0] && left_halves[1] == right_halves[1];
}

// The class whose events carry this provider GUID, if the helper describes it.
constexpr std::optional<KernelEventClass> KernelEventClassOf(const GUID& provider) {
    for (std::size_t index = 0; index < kKernelEventClasses.size(); ++index) {
        const auto event_class = static_cast<KernelEventClass>(index);
        if (SameGuid(provider, ProviderOf(event_class))) {
            return event_class;
        }
    }
    return std::nullopt;
}

struct KernelOpcode {
    KernelEventClass event_class;
    std::uint8_t opcode;
    std::u16string_view name;
};

inline constexpr std::array<KernelOpcode, 27> kKernelOpcodes = {{
    {KernelEventClass::Process, kOpcodeStart, u"Start"},
    {KernelEventClass::Process, kOpcodeEnd, u"End"},
    {KernelEventClass::Process, kOpcodeDCStart, u"DCStart"},
    {KernelEventClass::Process, kOpcodeDCEnd, u"DCEnd"},
    {KernelEventClass::Process, kOpcodeDefunct, u"Defunct"},
    {KernelEventClass::Thread, kOpcodeStart, u"Start"},
    {KernelEventClass::Thread, kOpcodeEnd, u"End"},
    {KernelEventClass::Thread, kOpcodeDCStart, u"DCStart"},
    {KernelEventClass::Thread, kOpcodeDCEnd, u"DCEnd"},
    {KernelEventClass::Thread, kOpcodeCSwitch, u"CSwitch"},
    {KernelEventClass::Thread, kOpcodeReadyThread, u"ReadyThread"},
    {KernelEventClass::Thread, kOpcodeSetName, u"SetName"},
    {KernelEventClass::Image, kOpcodeImageUnload, u"Unload"},
    {KernelEventClass::Image, kOpcodeImageDCStart, u"DCStart"},
    {KernelEventClass::Image, kOpcodeImageDCEnd, u"DCEnd"},
    {KernelEventClass::Image, kOpcodeImageLoad, u"Load"},
    {KernelEventClass::ImageIdentity, kOpcodeImageDebugRecord, u"DbgID_RSDS"},
    {KernelEventClass::ImageIdentity, kOpcodeImageDebugRecordIl, u"DbgID_ILRSDS"},
    {KernelEventClass::StackWalk, kOpcodeStack, u"Stack"},
    {KernelEventClass::StackWalk, kOpcodeStackKeyDelete, u"KeyDelete"},
    {KernelEventClass::StackWalk, kOpcodeStackKeyRundown, u"KeyRundown"},
    {KernelEventClass::StackWalk, kOpcodeStackKeyKernel, u"StackKeyKernel"},
    {KernelEventClass::StackWalk, kOpcodeStackKeyUser, u"StackKeyUser"},
    {KernelEventClass::PerfInfo, kOpcodeThreadedDpc, u"ThreadedDPC"},
    {KernelEventClass::PerfInfo, kOpcodeIsr, u"ISR"},
    {KernelEventClass::PerfInfo, kOpcodeDpc, u"DPC"},
    {KernelEventClass::PerfInfo, kOpcodeTimerDpc, u"TimerDPC"},
}};

// The opcode's name within its class; empty for an opcode the class lacks.
constexpr std::u16string_view OpcodeNameOf(KernelEventClass event_class, std::uint8_t opcode) {
    for (const KernelOpcode& entry : kKernelOpcodes) {
        if (entry.event_class == event_class && entry.opcode == opcode) {
            return entry.name;
        }
    }
    return {};
}

}  // namespace dormiscope
