// The Windows event-trace consumer and Trace Data Helper interface.
//
// On Windows this is the SDK's own; elsewhere the same types, layouts, error
// codes and functions are provided by this folder, so that code including this
// header is the same on every system. This folder's own consumer and helper
// are declared under their own names on every system, so that a Windows
// program can read traces with them instead of the system's.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <evntcons.h>
#include <evntrace.h>
#include <tdh.h>
#ifdef __MINGW32__
// mingw-w64's tdh.h leaves out the types of property values and the helper's
// status type.
#include "platform/tdh_value_types.h"
using TDHSTATUS = ULONG;
#endif

#else

#include <cstddef>
#include <cstdint>

#define WINAPI
#define ANYSIZE_ARRAY 1

using UCHAR = std::uint8_t;
using BYTE = std::uint8_t;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG64 = std::uint64_t;
using ULONGLONG = std::uint64_t;
using LONGLONG = std::int64_t;
using PVOID = void*;
using PBYTE = BYTE*;
using PULONG = ULONG*;
using BOOL = std::int32_t;
// UTF-16 code unit, as in the Windows structures that embed text.
using WCHAR = char16_t;
// Caller-side wide strings (paths) use the system's wide character.
using LPWSTR = wchar_t*;
using TDHSTATUS = ULONG;
using TRACEHANDLE = ULONG64;
using PTRACEHANDLE = TRACEHANDLE*;

inline constexpr TRACEHANDLE INVALID_PROCESSTRACE_HANDLE = ~TRACEHANDLE{0};

inline constexpr ULONG ERROR_SUCCESS = 0;
inline constexpr ULONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr ULONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr ULONG ERROR_ACCESS_DENIED = 5;
inline constexpr ULONG ERROR_INVALID_HANDLE = 6;
inline constexpr ULONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr ULONG ERROR_BAD_FORMAT = 11;
inline constexpr ULONG ERROR_INVALID_DATA = 13;
inline constexpr ULONG ERROR_BAD_LENGTH = 24;
inline constexpr ULONG ERROR_WRITE_FAULT = 29;
inline constexpr ULONG ERROR_HANDLE_EOF = 38;
inline constexpr ULONG ERROR_INVALID_PARAMETER = 87;
inline constexpr ULONG ERROR_OPEN_FAILED = 110;
inline constexpr ULONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr ULONG ERROR_NOT_FOUND = 1168;
inline constexpr ULONG ERROR_CANCELLED = 1223;
inline constexpr ULONG ERROR_FILE_CORRUPT = 1392;
inline constexpr ULONG ERROR_INVALID_TIME = 1901;
inline constexpr ULONG ERROR_EVT_INVALID_EVENT_DATA = 15005;

struct GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
};
static_assert(sizeof(GUID) == 16);

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
static_assert(sizeof(LARGE_INTEGER) == 8);

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

struct SYSTEMTIME {
    USHORT wYear;
    USHORT wMonth;
    USHORT wDayOfWeek;
    USHORT wDay;
    USHORT wHour;
    USHORT wMinute;
    USHORT wSecond;
    USHORT wMilliseconds;
};

struct TIME_ZONE_INFORMATION {
    LONG Bias;
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};
static_assert(sizeof(TIME_ZONE_INFORMATION) == 172);

struct TRACE_LOGFILE_HEADER {
    ULONG BufferSize;
    ULONG Version;
    ULONG ProviderVersion;
    ULONG NumberOfProcessors;
    LARGE_INTEGER EndTime;
    ULONG TimerResolution;
    ULONG MaximumFileSize;
    ULONG LogFileMode;
    ULONG BuffersWritten;
    ULONG StartBuffers;
    ULONG PointerSize;
    ULONG EventsLost;
    ULONG CpuSpeedInMHz;
    LPWSTR LoggerName;
    LPWSTR LogFileName;
    TIME_ZONE_INFORMATION TimeZone;
    LARGE_INTEGER BootTime;
    LARGE_INTEGER PerfFreq;
    LARGE_INTEGER StartTime;
    ULONG ReservedFlags;
    ULONG BuffersLost;
};
static_assert(sizeof(TRACE_LOGFILE_HEADER) == 280);
static_assert(offsetof(TRACE_LOGFILE_HEADER, EndTime) == 0x10);
static_assert(offsetof(TRACE_LOGFILE_HEADER, PointerSize) == 0x2C);
static_assert(offsetof(TRACE_LOGFILE_HEADER, EventsLost) == 0x30);
static_assert(offsetof(TRACE_LOGFILE_HEADER, LoggerName) == 0x38);
static_assert(offsetof(TRACE_LOGFILE_HEADER, LogFileName) == 0x40);
static_assert(offsetof(TRACE_LOGFILE_HEADER, TimeZone) == 0x48);
static_assert(offsetof(TRACE_LOGFILE_HEADER, BootTime) == 0xF8);
static_assert(offsetof(TRACE_LOGFILE_HEADER, PerfFreq) == 0x100);
static_assert(offsetof(TRACE_LOGFILE_HEADER, StartTime) == 0x108);
static_assert(offsetof(TRACE_LOGFILE_HEADER, ReservedFlags) == 0x110);

struct EVENT_DESCRIPTOR {
    USHORT Id;
    UCHAR Version;
    UCHAR Channel;
    UCHAR Level;
    UCHAR Opcode;
    USHORT Task;
    ULONGLONG Keyword;
};
static_assert(sizeof(EVENT_DESCRIPTOR) == 16);

inline constexpr USHORT EVENT_HEADER_FLAG_EXTENDED_INFO = 0x0001;
inline constexpr USHORT EVENT_HEADER_FLAG_32_BIT_HEADER = 0x0020;
inline constexpr USHORT EVENT_HEADER_FLAG_64_BIT_HEADER = 0x0040;
inline constexpr USHORT EVENT_HEADER_FLAG_CLASSIC_HEADER = 0x0100;
inline constexpr USHORT EVENT_HEADER_FLAG_PROCESSOR_INDEX = 0x0200;

struct EVENT_HEADER {
    USHORT Size;
    USHORT HeaderType;
    USHORT Flags;
    USHORT EventProperty;
    ULONG ThreadId;
    ULONG ProcessId;
    LARGE_INTEGER TimeStamp;
    GUID ProviderId;
    EVENT_DESCRIPTOR EventDescriptor;
    ULONG KernelTime;
    ULONG UserTime;
    GUID ActivityId;
};
static_assert(sizeof(EVENT_HEADER) == 80);
static_assert(offsetof(EVENT_HEADER, TimeStamp) == 0x10);
static_assert(offsetof(EVENT_HEADER, ProviderId) == 0x18);
static_assert(offsetof(EVENT_HEADER, EventDescriptor) == 0x28);
static_assert(offsetof(EVENT_HEADER, ActivityId) == 0x40);

// The processor byte pair and the 16-bit index overlap, as on Windows.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#endif
struct ETW_BUFFER_CONTEXT {
    union {
        __extension__ struct {
            UCHAR ProcessorNumber;
            UCHAR Alignment;
        };
        USHORT ProcessorIndex;
    };
    USHORT LoggerId;
};
#ifdef __clang__
#pragma clang diagnostic pop
#endif
static_assert(sizeof(ETW_BUFFER_CONTEXT) == 4);

inline constexpr USHORT EVENT_HEADER_EXT_TYPE_PEBS_INDEX = 7;
inline constexpr USHORT EVENT_HEADER_EXT_TYPE_PMC_COUNTERS = 8;

struct EVENT_HEADER_EXTENDED_DATA_ITEM {
    USHORT Reserved1;
    USHORT ExtType;
    __extension__ struct {
        USHORT Linkage : 1;
        USHORT Reserved2 : 15;
    };
    USHORT DataSize;
    ULONGLONG DataPtr;
};
static_assert(sizeof(EVENT_HEADER_EXTENDED_DATA_ITEM) == 16);
using PEVENT_HEADER_EXTENDED_DATA_ITEM = EVENT_HEADER_EXTENDED_DATA_ITEM*;

struct EVENT_RECORD {
    EVENT_HEADER EventHeader;
    ETW_BUFFER_CONTEXT BufferContext;
    USHORT ExtendedDataCount;
    USHORT UserDataLength;
    PEVENT_HEADER_EXTENDED_DATA_ITEM ExtendedData;
    PVOID UserData;
    PVOID UserContext;
};
static_assert(sizeof(EVENT_RECORD) == 0x70);
static_assert(offsetof(EVENT_RECORD, BufferContext) == 0x50);
static_assert(offsetof(EVENT_RECORD, UserDataLength) == 0x56);
static_assert(offsetof(EVENT_RECORD, UserData) == 0x60);
static_assert(offsetof(EVENT_RECORD, UserContext) == 0x68);
using PEVENT_RECORD = EVENT_RECORD*;

struct EVENT_TRACE_HEADER {
    USHORT Size;
    UCHAR HeaderType;
    UCHAR MarkerFlags;
    UCHAR Type;
    UCHAR Level;
    USHORT Version;
    ULONG ThreadId;
    ULONG ProcessId;
    LARGE_INTEGER TimeStamp;
    GUID Guid;
    ULONG KernelTime;
    ULONG UserTime;
};
static_assert(sizeof(EVENT_TRACE_HEADER) == 0x30);

struct EVENT_TRACE {
    EVENT_TRACE_HEADER Header;
    ULONG InstanceId;
    ULONG ParentInstanceId;
    GUID ParentGuid;
    PVOID MofData;
    ULONG MofLength;
    ETW_BUFFER_CONTEXT BufferContext;
};
static_assert(sizeof(EVENT_TRACE) == 0x58);
using PEVENT_TRACE = EVENT_TRACE*;

struct EVENT_TRACE_LOGFILEW;
using PEVENT_TRACE_LOGFILEW = EVENT_TRACE_LOGFILEW*;
using PEVENT_TRACE_BUFFER_CALLBACKW = ULONG(WINAPI*)(PEVENT_TRACE_LOGFILEW);
using PEVENT_CALLBACK = void(WINAPI*)(PEVENT_TRACE);
using PEVENT_RECORD_CALLBACK = void(WINAPI*)(PEVENT_RECORD);

inline constexpr ULONG PROCESS_TRACE_MODE_REAL_TIME = 0x00000100;
inline constexpr ULONG PROCESS_TRACE_MODE_RAW_TIMESTAMP = 0x00001000;
inline constexpr ULONG PROCESS_TRACE_MODE_EVENT_RECORD = 0x10000000;

struct EVENT_TRACE_LOGFILEW {
    LPWSTR LogFileName;
    LPWSTR LoggerName;
    LONGLONG CurrentTime;
    ULONG BuffersRead;
    union {
        ULONG LogFileMode;
        ULONG ProcessTraceMode;
    };
    EVENT_TRACE CurrentEvent;
    TRACE_LOGFILE_HEADER LogfileHeader;
    PEVENT_TRACE_BUFFER_CALLBACKW BufferCallback;
    ULONG BufferSize;
    ULONG Filled;
    ULONG EventsLost;
    union {
        PEVENT_CALLBACK EventCallback;
        PEVENT_RECORD_CALLBACK EventRecordCallback;
    };
    ULONG IsKernelTrace;
    PVOID Context;
};
static_assert(sizeof(EVENT_TRACE_LOGFILEW) == 0x1C0);
static_assert(offsetof(EVENT_TRACE_LOGFILEW, LogfileHeader) == 0x78);
static_assert(offsetof(EVENT_TRACE_LOGFILEW, EventRecordCallback) == 0x1A8);
static_assert(offsetof(EVENT_TRACE_LOGFILEW, Context) == 0x1B8);

enum DECODING_SOURCE : std::int32_t {
    DecodingSourceXMLFile = 0,
    DecodingSourceWbem = 1,
    DecodingSourceWPP = 2,
    DecodingSourceTlg = 3,
};

enum TDH_CONTEXT_TYPE : std::int32_t {
    TDH_CONTEXT_WPP_TMFFILE = 0,
    TDH_CONTEXT_WPP_TMFSEARCHPATH = 1,
    TDH_CONTEXT_WPP_GMT = 2,
    TDH_CONTEXT_POINTERSIZE = 3,
    TDH_CONTEXT_PDB_PATH = 4,
    TDH_CONTEXT_MAXIMUM = 5,
};

struct TDH_CONTEXT {
    ULONGLONG ParameterValue;
    TDH_CONTEXT_TYPE ParameterType;
    ULONG ParameterSize;
};
static_assert(sizeof(TDH_CONTEXT) == 16);
using PTDH_CONTEXT = TDH_CONTEXT*;

#include "platform/tdh_value_types.h"

using PROPERTY_FLAGS = std::int32_t;
inline constexpr PROPERTY_FLAGS PropertyStruct = 0x1;

struct EVENT_PROPERTY_INFO_NON_STRUCT_TYPE {
    USHORT InType;
    USHORT OutType;
    ULONG MapNameOffset;
};

struct EVENT_PROPERTY_INFO_STRUCT_TYPE {
    USHORT StructStartIndex;
    USHORT NumOfStructMembers;
    ULONG padding;
};

struct EVENT_PROPERTY_INFO {
    PROPERTY_FLAGS Flags;
    ULONG NameOffset;
    union {
        EVENT_PROPERTY_INFO_NON_STRUCT_TYPE nonStructType;
        EVENT_PROPERTY_INFO_STRUCT_TYPE structType;
    };
    union {
        USHORT count;
        USHORT countPropertyIndex;
    };
    union {
        USHORT length;
        USHORT lengthPropertyIndex;
    };
    ULONG Reserved;
};
static_assert(sizeof(EVENT_PROPERTY_INFO) == 24);

struct TRACE_EVENT_INFO {
    GUID ProviderGuid;
    GUID EventGuid;
    EVENT_DESCRIPTOR EventDescriptor;
    DECODING_SOURCE DecodingSource;
    ULONG ProviderNameOffset;
    ULONG LevelNameOffset;
    ULONG ChannelNameOffset;
    ULONG KeywordsNameOffset;
    ULONG TaskNameOffset;
    ULONG OpcodeNameOffset;
    ULONG EventMessageOffset;
    ULONG ProviderMessageOffset;
    ULONG BinaryXMLOffset;
    ULONG BinaryXMLSize;
    union {
        ULONG EventNameOffset;
        ULONG ActivityIDNameOffset;
    };
    union {
        ULONG EventAttributesOffset;
        ULONG RelatedActivityIDNameOffset;
    };
    ULONG PropertyCount;
    ULONG TopLevelPropertyCount;
    ULONG Flags;
    EVENT_PROPERTY_INFO EventPropertyInfoArray[ANYSIZE_ARRAY];
};
static_assert(offsetof(TRACE_EVENT_INFO, PropertyCount) == 0x64);
static_assert(offsetof(TRACE_EVENT_INFO, TopLevelPropertyCount) == 0x68);
static_assert(offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) == 0x70);
using PTRACE_EVENT_INFO = TRACE_EVENT_INFO*;

struct PROPERTY_DATA_DESCRIPTOR {
    ULONGLONG PropertyName;
    ULONG ArrayIndex;
    ULONG Reserved;
};
static_assert(sizeof(PROPERTY_DATA_DESCRIPTOR) == 16);
using PPROPERTY_DATA_DESCRIPTOR = PROPERTY_DATA_DESCRIPTOR*;

#endif

// The .etl reader of etl_reader/.
namespace dormiscope::etl_reader {
TRACEHANDLE WINAPI OpenTraceW(PEVENT_TRACE_LOGFILEW Logfile);
ULONG WINAPI ProcessTrace(PTRACEHANDLE HandleArray, ULONG HandleCount, LPFILETIME StartTime, LPFILETIME EndTime);
ULONG WINAPI CloseTrace(TRACEHANDLE TraceHandle);
}  // namespace dormiscope::etl_reader

// The Trace Data Helper of trace_data_helper/, for the kernel's classes.
namespace dormiscope::trace_data_helper {
TDHSTATUS WINAPI TdhGetEventInformation(PEVENT_RECORD Event, ULONG TdhContextCount, PTDH_CONTEXT TdhContext,
                                        PTRACE_EVENT_INFO Buffer, PULONG BufferSize);
TDHSTATUS WINAPI TdhGetPropertySize(PEVENT_RECORD pEvent, ULONG TdhContextCount, PTDH_CONTEXT pTdhContext,
                                    ULONG PropertyDataCount, PPROPERTY_DATA_DESCRIPTOR pPropertyData,
                                    ULONG* pPropertySize);
TDHSTATUS WINAPI TdhGetProperty(PEVENT_RECORD pEvent, ULONG TdhContextCount, PTDH_CONTEXT pTdhContext,
                                ULONG PropertyDataCount, PPROPERTY_DATA_DESCRIPTOR pPropertyData, ULONG BufferSize,
                                PBYTE pBuffer);
}  // namespace dormiscope::trace_data_helper

#ifndef _WIN32

// Where the system has no consumer, this folder's functions are the system's.
using dormiscope::etl_reader::CloseTrace;
using dormiscope::etl_reader::OpenTraceW;
using dormiscope::etl_reader::ProcessTrace;
using dormiscope::trace_data_helper::TdhGetEventInformation;
using dormiscope::trace_data_helper::TdhGetProperty;
using dormiscope::trace_data_helper::TdhGetPropertySize;

// The calling thread's identifier (on Linux, the kernel thread id).
DWORD WINAPI GetCurrentThreadId();

#endif
