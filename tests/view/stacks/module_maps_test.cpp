#include "view/stacks/module_maps.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

ImageEventData Image(std::uint8_t opcode, std::int64_t at, std::uint32_t process, std::uint64_t base,
                     std::uint64_t size, std::u16string file) {
    ImageEventData image;
    image.opcode = opcode;
    image.TimeStamp = at;
    image.ProcessId = process;
    image.ImageBase = base;
    image.ImageSize = size;
    image.FileName = std::move(file);
    return image;
}

std::string At(ModuleMaps& maps, std::uint32_t process, std::uint64_t address, std::int64_t time) {
    return FrameText(maps.Resolve(process, address, time));
}

// A driver, a process's images loaded, unloaded and replaced at the same base.
ModuleMaps Machine() {
    ModuleMaps maps;
    maps.Add(Image(kOpcodeImageDCStart, 0, 0, 0xFFFFF800'00000000, 0x10000, u"\\SystemRoot\\system32\\ntoskrnl.exe"));
    maps.Add(Image(kOpcodeImageDCStart, 0, 600, 0x7FF0'0000, 0x1000, u"C:\\Windows\\a.dll"));
    maps.Add(Image(kOpcodeImageUnload, 100, 600, 0x7FF0'0000, 0x1000, u"C:\\Windows\\a.dll"));
    maps.Add(Image(kOpcodeImageLoad, 200, 600, 0x7FF0'0000, 0x2000, u"C:\\Windows\\b.dll"));
    maps.Add(Image(kOpcodeImageUnload, 150, 700, 0x1000'0000, 0x1000, u"C:\\gone.dll"));
    maps.Add(Image(kOpcodeImageUnload, 180, 700, 0x1000'0000, 0x1000, u"C:\\again.dll"));
    maps.Add(Image(kOpcodeImageDCEnd, 900, 700, 0x2000'0000, 0x1000, u"C:\\late.exe"));
    maps.Add(Image(kOpcodeImageLoad, 5, 700, 0x3000'0000, 0x1000, u"C:/caf\u00e9\U0001F600.dll"));
    return maps;
}

TEST(ModuleMaps, ResolvesEachAddressByProcessAndTime) {
    struct Case {
        std::uint32_t process;
        std::uint64_t address;
        std::int64_t time;
        std::string text;
    };
    const Case cases[] = {
        {600, 0x7FF0'0010, 50, "a.dll+0x10"},           // loaded since before the trace
        {600, 0x7FF0'0010, 100, "unknown 0x7ff00010"},            // unloaded at 100, nothing there until 200
        {600, 0x7FF0'1800, 250, "b.dll+0x1800"},        // another module at the same base later
        {600, 0x7FF0'1800, 50, "unknown 0x7ff01800"},            // beyond a.dll's end
        {601, 0x7FF0'0010, 50, "unknown 0x7ff00010"},            // another process
        {600, 0xFFFFF800'00001234, 50, "ntoskrnl.exe+0x1234"},  // kernel modules from every process
        {4, 0xFFFFF800'0000FFFF, 5000, "ntoskrnl.exe+0xffff"},
        {4, 0xFFFFF800'00010000, 5000, "unknown 0xfffff80000010000"},
        {700, 0x1000'0100, 149, "gone.dll+0x100"},      // an unload with no load: there since the start
        {700, 0x1000'0100, 150, "again.dll+0x100"},     // unloaded again: loaded unseen in between
        {700, 0x1000'0100, 180, "unknown 0x10000100"},
        {700, 0x2000'0004, 1, "late.exe+0x4"},          // seen only by the closing rundown
        {700, 0x3000'0001, 5, "caf\xC3\xA9\xF0\x9F\x98\x80.dll+0x1"},  // the name in UTF-8
    };
    ModuleMaps maps = Machine();
    for (const Case& test : cases) {
        EXPECT_EQ(At(maps, test.process, test.address, test.time), test.text)
            << test.process << " 0x" << std::hex << test.address << " at " << std::dec << test.time;
    }
}

TEST(ModuleMaps, CountsEmptyAndOverlappingImagesAndLetsTheLaterOneWin) {
    ModuleMaps maps;
    maps.Add(Image(kOpcodeImageLoad, 10, 600, 0x4000'0000, 0, u"empty.dll"));
    maps.Add(Image(kOpcodeImageLoad, 20, 600, 0x5000'0000, 0x2000, u"first.dll"));
    maps.Add(Image(kOpcodeImageLoad, 30, 600, 0x5000'1000, 0x2000, u"second.dll"));
    EXPECT_EQ(maps.damage().empty_images, 1U);
    EXPECT_EQ(maps.damage().overlapping_images, 1U);
    EXPECT_EQ(At(maps, 600, 0x4000'0000, 40), "unknown 0x40000000");
    EXPECT_EQ(At(maps, 600, 0x5000'0800, 40), "first.dll+0x800");
    EXPECT_EQ(At(maps, 600, 0x5000'1800, 40), "second.dll+0x800");
    EXPECT_EQ(At(maps, 600, 0x5000'1800, 25), "first.dll+0x1800");

    // Over a large image but past the small one nested in it; then, with the
    // large one gone, beside the small one.
    maps.Add(Image(kOpcodeImageLoad, 40, 700, 0x6000'0000, 0x10000, u"large.dll"));
    maps.Add(Image(kOpcodeImageLoad, 41, 700, 0x6000'1000, 0x1000, u"nested.dll"));
    maps.Add(Image(kOpcodeImageLoad, 42, 700, 0x6000'8000, 0x1000, u"past.dll"));
    EXPECT_EQ(maps.damage().overlapping_images, 3U);
    maps.Add(Image(kOpcodeImageUnload, 43, 700, 0x6000'0000, 0x10000, u"large.dll"));
    maps.Add(Image(kOpcodeImageLoad, 44, 700, 0x6000'2000, 0x1000, u"beside.dll"));
    maps.Add(Image(kOpcodeImageLoad, 45, 700, 0x6000'0000, 0x1000, u"before.dll"));
    EXPECT_EQ(maps.damage().overlapping_images, 3U);
}

TEST(ModuleMaps, KeepsThePdbOfEachImageWhicheverComesFirst) {
    ImageIdentityEventData before;
    before.ProcessId = 0;
    before.ImageBase = 0xFFFFF800'00000000;
    before.Age = 2;
    before.PdbFileName = "ntkrnlmp.pdb";
    before.PdbGuid[0] = 0x66;
    ImageIdentityEventData after = before;
    after.ProcessId = 600;
    after.ImageBase = 0x7FF0'0000;
    after.PdbFileName = "a.pdb";

    ModuleMaps maps;
    maps.Add(before);
    maps.Add(Image(kOpcodeImageDCStart, 0, 0, before.ImageBase, 0x10000, u"ntoskrnl.exe"));
    maps.Add(Image(kOpcodeImageDCStart, 0, 600, after.ImageBase, 0x1000, u"a.dll"));
    maps.Add(after);
    const ResolvedFrame kernel = maps.Resolve(4, before.ImageBase + 1, 0);
    ASSERT_NE(kernel.module, nullptr);
    ASSERT_TRUE(kernel.module->pdb.has_value());
    EXPECT_EQ(kernel.module->pdb->pdb_name, "ntkrnlmp.pdb");
    EXPECT_EQ(kernel.module->pdb->age, 2U);
    EXPECT_EQ(kernel.module->pdb->guid[0], 0x66);
    const ResolvedFrame user = maps.Resolve(600, after.ImageBase, 0);
    ASSERT_NE(user.module, nullptr);
    ASSERT_TRUE(user.module->pdb.has_value());
    EXPECT_EQ(user.module->pdb->pdb_name, "a.pdb");
}

// An identity belongs to one image: a later image at the same base, with no
// record of its own, must not be named from the earlier one's PDB.
TEST(ModuleMaps, AnImageLoadedWhereAnotherWasUnloadedGetsNoneOfItsPdb) {
    for (const bool record_first : {true, false}) {
        SCOPED_TRACE(record_first ? "record before the image" : "record after the image");
        ImageIdentityEventData liba;
        liba.ProcessId = 600;
        liba.ImageBase = 0x1000'0000;
        liba.PdbFileName = "liba.pdb";
        ModuleMaps maps;
        if (record_first) {
            maps.Add(liba);
        }
        maps.Add(Image(kOpcodeImageLoad, 10, 600, liba.ImageBase, 0x2000, u"liba.dll"));
        if (!record_first) {
            maps.Add(liba);
        }
        maps.Add(Image(kOpcodeImageUnload, 20, 600, liba.ImageBase, 0x2000, u"liba.dll"));
        maps.Add(Image(kOpcodeImageLoad, 30, 600, liba.ImageBase, 0x2000, u"libb.dll"));
        maps.Add(Image(kOpcodeImageLoad, 40, 600, 0x2000'0000, 0x2000, u"libc.dll"));  // over nothing

        const ResolvedFrame earlier = maps.Resolve(600, liba.ImageBase + 0x10, 15);
        ASSERT_NE(earlier.module, nullptr);
        ASSERT_TRUE(earlier.module->pdb.has_value());
        EXPECT_EQ(earlier.module->pdb->pdb_name, "liba.pdb");
        const ResolvedFrame later = maps.Resolve(600, liba.ImageBase + 0x10, 35);
        EXPECT_EQ(FrameText(later), "libb.dll+0x10");
        EXPECT_FALSE(later.module->pdb.has_value());
        EXPECT_EQ(maps.damage().overlapping_images, 0U);
    }
}

}  // namespace
}  // namespace dormiscope
