// The kernel classes that say which code runs: image loads and the image
// identity records relogged traces carry, stack walks (plain and cached), and
// the DPC and interrupt events of the PerfInfo group. Their providers,
// opcodes and the versions the kernel writes.
#pragma once

#include <cstdint>

#include "platform/etw_api.h"

namespace dormiscope {

// {2CB15D1D-5FC1-11D2-ABE1-00A0C911F518}
inline constexpr GUID kImageProvider = {0x2CB15D1D, 0x5FC1, 0x11D2, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x11, 0xF5, 0x18}};
// {B3E675D7-2554-4F18-830B-2762732560DE}: written by the relogger, not the kernel.
inline constexpr GUID kImageIdentityProvider = {0xB3E675D7, 0x2554, 0x4F18,
                                                {0x83, 0x0B, 0x27, 0x62, 0x73, 0x25, 0x60, 0xDE}};
// {DEF2FE46-7BD6-4B80-BD94-F57FE20D0CE3}
inline constexpr GUID kStackWalkProvider = {0xDEF2FE46, 0x7BD6, 0x4B80,
                                            {0xBD, 0x94, 0xF5, 0x7F, 0xE2, 0x0D, 0x0C, 0xE3}};
// {CE1DBFB4-137E-4DA6-87B0-3F59AA102CBC}
inline constexpr GUID kPerfInfoProvider = {0xCE1DBFB4, 0x137E, 0x4DA6,
                                           {0x87, 0xB0, 0x3F, 0x59, 0xAA, 0x10, 0x2C, 0xBC}};

inline constexpr std::uint8_t kGroupPerfInfo = 0x0F;
inline constexpr std::uint8_t kGroupImage = 0x14;
inline constexpr std::uint8_t kGroupStackWalk = 0x18;

// Image: a load, an unload, and the rundown of what was loaded when logging
// started (DCStart) or stopped (DCEnd).
inline constexpr std::uint8_t kOpcodeImageUnload = 2;
inline constexpr std::uint8_t kOpcodeImageDCStart = 3;
inline constexpr std::uint8_t kOpcodeImageDCEnd = 4;
inline constexpr std::uint8_t kOpcodeImageLoad = 10;
inline constexpr std::uint8_t kImageVersionWin7 = 2;
inline constexpr std::uint8_t kImageVersion = 3;  // adds the signature level and type

// Image identity: the debug record (PDB GUID, age, PDB file name).
inline constexpr std::uint8_t kOpcodeImageDebugRecord = 36;
inline constexpr std::uint8_t kImageIdentityVersion = 2;

// StackWalk: a stack written whole, or a cached stack: a definition gives
// a key its addresses (when the cache drops the key, or at rundown) and a
// reference names the key for an event's kernel or user part.
inline constexpr std::uint8_t kOpcodeStack = 32;
inline constexpr std::uint8_t kOpcodeStackKeyDelete = 35;
inline constexpr std::uint8_t kOpcodeStackKeyRundown = 36;
inline constexpr std::uint8_t kOpcodeStackKeyKernel = 37;
inline constexpr std::uint8_t kOpcodeStackKeyUser = 38;
inline constexpr std::uint8_t kStackWalkVersion = 2;
// The kernel walks at most this many frames.
inline constexpr std::size_t kMaxStackFrames = 192;

// PerfInfo: each logged when the routine returns.
inline constexpr std::uint8_t kOpcodeThreadedDpc = 66;
inline constexpr std::uint8_t kOpcodeIsr = 67;
inline constexpr std::uint8_t kOpcodeDpc = 68;
inline constexpr std::uint8_t kOpcodeTimerDpc = 69;
inline constexpr std::uint8_t kPerfInfoVersion = 2;

}  // namespace dormiscope
