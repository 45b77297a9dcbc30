#include "view/symbols/symbol_search_path.h"

#include <gtest/gtest.h>

namespace dormiscope::symbols {
namespace {

struct SymbolPathCase {
    const char* value;
    std::vector<std::filesystem::path> folders;
    std::vector<std::string> servers;
};

TEST(NtSymbolPath, KeepsLocalFoldersAndSetsServersAside) {
    const SymbolPathCase cases[] = {
        {"srv*C:\\Symbols*https://symbols.example.com/download", {"C:\\Symbols"},
         {"https://symbols.example.com/download"}},
        {"SRV*C:\\Symbols*HTTPS://symbols.example.com", {"C:\\Symbols"}, {"HTTPS://symbols.example.com"}},
        {"cache*D:\\Cache;srv*https://a.example", {"D:\\Cache"}, {"https://a.example"}},
        {"symsrv*symsrv.dll*C:\\Store*http://b.example", {"C:\\Store"}, {"http://b.example"}},
        {"D:\\a;D:\\b", {"D:\\a", "D:\\b"}, {}},
        {" /home/me/symbols ; ;srv**https://c.example", {"/home/me/symbols"}, {"https://c.example"}},
        {"\\\\fileserver\\symbols;/srv/sym", {"/srv/sym"}, {"\\\\fileserver\\symbols"}},
        {"\\\\?\\C:\\sym;\\\\.\\D:\\sym;\\\\?\\UNC\\fileserver\\symbols", {"\\\\?\\C:\\sym", "\\\\.\\D:\\sym"},
         {"\\\\?\\UNC\\fileserver\\symbols"}},
        {"", {}, {}},
    };
    for (const SymbolPathCase& c : cases) {
        const NtSymbolPathPlaces places = ReadNtSymbolPath(c.value);
        EXPECT_EQ(places.folders, c.folders) << c.value;
        EXPECT_EQ(places.servers, c.servers) << c.value;
    }
}

TEST(NtSymbolPath, SaysSoOnlyWhenNoLocalFolderIsLeft) {
    const std::optional<std::string> notice = ServerOnlyNotice(ReadNtSymbolPath("srv*https://symbols.example.com"));
    ASSERT_TRUE(notice);
    EXPECT_NE(notice->find("https://symbols.example.com"), std::string::npos);
    EXPECT_NE(notice->find("--symbols"), std::string::npos);
    EXPECT_FALSE(ServerOnlyNotice(ReadNtSymbolPath("srv*/cache*https://symbols.example.com")));
    EXPECT_FALSE(ServerOnlyNotice(ReadNtSymbolPath("")));
}

TEST(NtSymbolPath, FoldersGivenOnTheCommandLineComeFirst) {
    EXPECT_EQ(SymbolFolders({"/given/a", "/given/b"}, ReadNtSymbolPath("/env")),
              (std::vector<std::filesystem::path>{"/given/a", "/given/b", "/env"}));
}

}  // namespace
}  // namespace dormiscope::symbols
