// Windows: the system's DbgHelp reads each PDB, through an image that stands
// in for the module's own. DbgHelp checks the PDB's GUID and age against the
// stand-in's and refuses another build's. Its search path is the PDB's own
// folder alone, so it never looks elsewhere and never asks a symbol server.
#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "view/symbols/pdb_reading.h"
#include "view/symbols/stand_in_image.h"

namespace dormiscope::symbols {

namespace {

// Where the stand-in image is loaded: any address, each module being loaded
// alone.
constexpr DWORD64 kModuleBase = 0x1'0000'0000;
constexpr DWORD kModuleSize = 0x8000'0000;

// Symbol tags (cvconst.h).
constexpr ULONG kTagFunction = 5;
constexpr ULONG kTagPublicSymbol = 10;

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::string SystemMessage(const char* what, DWORD error) {
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

PdbReading Unreadable(std::string problem) {
    PdbReading reading;
    reading.problem = std::move(problem);
    return reading;
}

// The stand-in image, in a temporary folder of its own since DbgHelp also
// looks for a PDB beside the image and must find none there. Both are
// removed once DbgHelp is done with them (a file deleted on close could not
// be opened again by name).
class StandInFile {
public:
    explicit StandInFile(const std::string& bytes) {
        wchar_t temporary[MAX_PATH + 1];
        wchar_t unique[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
        if (length == 0 || length > MAX_PATH || GetTempFileNameW(temporary, L"dsv", 0, unique) == 0) {
            error_ = GetLastError();
            return;
        }
        // The unique name GetTempFileNameW reserved becomes the folder.
        folder_ = unique;
        if (!DeleteFileW(folder_.c_str()) || !CreateDirectoryW(folder_.c_str(), nullptr)) {
            error_ = GetLastError();
            folder_.clear();
            return;
        }
        path_ = folder_ + L"\\image.dll";
        handle_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        DWORD written = 0;
        if (handle_ == INVALID_HANDLE_VALUE ||
            !WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size()) {
            error_ = GetLastError();
        }
    }
    ~StandInFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            DeleteFileW(path_.c_str());
        }
        if (!folder_.empty()) {
            RemoveDirectoryW(folder_.c_str());
        }
    }
    StandInFile(const StandInFile&) = delete;
    StandInFile& operator=(const StandInFile&) = delete;

    std::optional<DWORD> error() const { return error_; }
    HANDLE handle() const { return handle_; }
    const wchar_t* path() const { return path_.c_str(); }

private:
    std::wstring folder_;
    std::wstring path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::optional<DWORD> error_;
};

// One DbgHelp session, for one PDB. DbgHelp takes any unique value for the
// process it serves; this session's own address is one.
class DbgHelpSession {
public:
    explicit DbgHelpSession(const std::filesystem::path& search_folder) {
        started_ = SymInitializeW(id(), search_folder.wstring().c_str(), FALSE) != FALSE;
    }
    ~DbgHelpSession() {
        if (started_) {
            SymCleanup(id());
        }
    }
    DbgHelpSession(const DbgHelpSession&) = delete;
    DbgHelpSession& operator=(const DbgHelpSession&) = delete;

    bool started() const { return started_; }
    HANDLE id() const { return const_cast<DbgHelpSession*>(this); }

private:
    bool started_ = false;
};

struct ListedFunctions {
    std::vector<FunctionRange> functions;
    std::vector<PublicSymbol> publics;
};

BOOL CALLBACK AddFunction(PSYMBOL_INFOW symbol, ULONG, PVOID context) {
    auto& [functions, publics] = *static_cast<ListedFunctions*>(context);
    if (symbol->Address < kModuleBase || symbol->Address - kModuleBase >= kModuleSize) {
        return TRUE;
    }
    const auto start = static_cast<std::uint32_t>(symbol->Address - kModuleBase);
    std::string name = Utf8({symbol->Name, symbol->NameLen});
    if (symbol->Tag == kTagFunction) {
        const std::uint32_t end = symbol->Size > kModuleSize - start ? kModuleSize : start + symbol->Size;
        functions.push_back({start, end, std::move(name)});
    } else if (symbol->Tag == kTagPublicSymbol && (symbol->Flags & SYMFLAG_PUBLIC_CODE) != 0) {
        // DbgHelp does not say where sections end: the module's end bounds it.
        publics.push_back({start, kModuleSize, std::move(name)});
    }
    return TRUE;
}

bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Why DbgHelp refused the file: another build's PDB, or one it cannot read.
PdbReading Refused(const std::filesystem::path& file, const PdbIdentity& wanted) {
    // Wine's DbgHelp has SymSrvGetFileIndexInfoW only as a stub that ends the
    // program: there, a refused file is called unreadable, whatever it is.
    if (!RunsUnderWine()) {
        SYMSRV_INDEX_INFOW index{};
        index.sizeofstruct = sizeof index;
        if (SymSrvGetFileIndexInfoW(file.wstring().c_str(), &index, 0) == FALSE) {
            return Unreadable(SystemMessage("DbgHelp finds no PDB in it", GetLastError()));
        }
        PdbIdentity found;
        static_assert(sizeof index.guid == sizeof found.guid);
        std::memcpy(found.guid.data(), &index.guid, found.guid.size());
        found.age = index.age;
        if (found.guid != wanted.guid || found.age != wanted.age) {
            PdbReading reading;
            reading.outcome = PdbReading::Outcome::kOtherIdentity;
            reading.found = found;
            return reading;
        }
    }
    return Unreadable("DbgHelp does not read it as the PDB of this build");
}

PdbReading ReadWithDbgHelp(const std::filesystem::path& file, const PdbIdentity& wanted) {
    // DbgHelp serves one thread at a time.
    static std::mutex dbghelp;
    const std::lock_guard lock(dbghelp);
    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_EXACT_SYMBOLS | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_NO_PROMPTS |
                  SYMOPT_IGNORE_NT_SYMPATH | SYMOPT_DISABLE_SYMSRV_AUTODETECT);

    // The stand-in names the file itself: DbgHelp tries the recorded path
    // first, then its search path (the file's folder) by file name.
    PdbIdentity named = wanted;
    named.pdb_name = Utf8(file.wstring());
    const StandInFile image(StandInImage(named));
    if (image.error()) {
        return Unreadable(SystemMessage("no temporary file for DbgHelp", *image.error()));
    }
    const DbgHelpSession session(file.parent_path());
    if (!session.started()) {
        return Unreadable(SystemMessage("DbgHelp did not start", GetLastError()));
    }
    if (SymLoadModuleExW(session.id(), image.handle(), image.path(), nullptr, kModuleBase, kModuleSize, nullptr,
                         0) == 0) {
        return Unreadable(SystemMessage("DbgHelp did not load it", GetLastError()));
    }
    IMAGEHLP_MODULEW64 module{};
    module.SizeOfStruct = sizeof module;
    if (SymGetModuleInfoW64(session.id(), kModuleBase, &module) == FALSE || module.SymType != SymPdb) {
        return Refused(file, wanted);
    }
    ListedFunctions listed;
    if (SymEnumSymbolsW(session.id(), kModuleBase, L"*", AddFunction, &listed) == FALSE) {
        return Unreadable(SystemMessage("DbgHelp did not list its symbols", GetLastError()));
    }
    PdbReading reading;
    reading.outcome = PdbReading::Outcome::kRead;
    reading.found = wanted;
    reading.functions = FunctionTable(std::move(listed.functions), std::move(listed.publics));
    return reading;
}

}  // namespace

ReadPdbFunction SystemPdbReader() {
    return ReadWithDbgHelp;
}

}  // namespace dormiscope::symbols
