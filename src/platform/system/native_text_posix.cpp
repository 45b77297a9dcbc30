#include <climits>
#include <cwchar>

#include "platform/system/native_text.h"

namespace dormiscope {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

std::wstring DecodeArgument(const char* bytes) {
    std::wstring wide;
    std::mbstate_t state{};
    const char* position = bytes;
    const char* const end = bytes + std::char_traits<char>::length(bytes);
    while (position < end) {
        wchar_t character = 0;
        const std::size_t used = std::mbrtowc(&character, position, static_cast<std::size_t>(end - position), &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0) {
            wide.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(*position)));
            state = std::mbstate_t{};
            ++position;
            continue;
        }
        wide.push_back(character);
        position += used;
    }
    return wide;
}

}  // namespace

std::vector<std::wstring> CommandLineArguments(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    arguments.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int index = 0; index < argc; ++index) {
        arguments.push_back(DecodeArgument(argv[index]));
    }
    return arguments;
}

std::filesystem::path PathFromWide(const std::wstring& wide) {
    std::string bytes;
    std::mbstate_t state{};
    char encoded[MB_LEN_MAX];
    for (const wchar_t character : wide) {
        if (character >= kEscapeBase + 0x80 && character <= kEscapeBase + 0xFF) {
            bytes.push_back(static_cast<char>(character - kEscapeBase));
            continue;
        }
        const std::size_t length = std::wcrtomb(encoded, character, &state);
        if (length == static_cast<std::size_t>(-1)) {
            // No byte form in this locale: such a name cannot exist on disk.
            bytes.push_back('?');
            state = std::mbstate_t{};
            continue;
        }
        bytes.append(encoded, length);
    }
    return std::filesystem::path(bytes);
}

}  // namespace dormiscope
