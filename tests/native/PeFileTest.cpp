// The module-file reader: on the built modules, and on damaged files that a
// host may meet, which must give an error and never a fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "BuiltModules.h"
#include "tests/common/TinyModules.h"
#include "host/core/PeFile.h"

TEST(PeFile, ReadsAHandMadeDll)
{
    pe::ModuleInfo info;
    std::string error;
    ASSERT_TRUE(pe::ParseModule(TinyDll(), &info, &error)) << error;
    EXPECT_EQ(info.machine, pe::kMachineI386);
    EXPECT_TRUE(info.isDll);
    ASSERT_EQ(info.exports.size(), 1u);
    EXPECT_EQ(info.exports[0].name, "PluginMain");
    EXPECT_EQ(info.exports[0].rva, 0x1234u);
    EXPECT_EQ(info.importedDlls, std::vector<std::string>{"KERNEL32.dll"});
}

TEST(PeFile, ResourcesPointIntoTheFileAndSharedTablesAreRefused)
{
    const std::vector<uint8_t> one = DllWithResources(1);
    pe::ModuleInfo info;
    std::string error;
    ASSERT_TRUE(pe::ParseModule(one, &info, &error)) << error;
    ASSERT_EQ(info.resources.size(), 1u);
    const pe::Resource *r = pe::FindResource(info, "#1", "#1", 1033);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(pe::ResourceBytes(one, *r), std::vector<uint8_t>(one.begin() + 0x200, one.begin() + 0x210));
    EXPECT_TRUE(pe::ResourceBytes(std::vector<uint8_t>(one.begin(), one.begin() + 0x208), *r).empty());

    // 39 entries a level over shared tables would be 59,319 resources from a
    // file of under 5 KB: the walk stops at the first table met twice.
    const std::vector<uint8_t> shared = DllWithResources(39);
    EXPECT_FALSE(pe::ParseModule(shared, &info, &error));
    EXPECT_EQ(error, "resource directory tables are shared or cyclic");
}

TEST(PeFile, EveryTruncationIsAnErrorNotAFault)
{
    const std::vector<uint8_t> whole = TinyDll();
    for (size_t length = 0; length < whole.size(); ++length) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(length));
        pe::ModuleInfo info;
        std::string error;
        // From the import name's terminating NUL on, everything is present.
        if (length < 0x38D) {
            EXPECT_FALSE(pe::ParseModule(cut, &info, &error)) << length;
        }
    }
}

TEST(PeFile, CorruptedBytesNeverFault)
{
    const std::vector<uint8_t> whole = TinyDll();
    uint32_t state = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = whole;
        for (int k = 0; k < 4; ++k) {
            state = state * 1664525u + 1013904223u;
            const size_t at = (state >> 8) % 0x3A0;
            state = state * 1664525u + 1013904223u;
            bytes[at] = uint8_t(state >> 24);
        }
        pe::ModuleInfo info;
        std::string error;
        pe::ParseModule(bytes, &info, &error);  // any answer, but no fault
    }
    SUCCEED();
}

TEST(PeFile, BuiltModulesExportPluginMainForTheirMachine)
{
    const std::vector<std::string> modules = BuiltModulePaths();
    if (modules.empty())
        GTEST_SKIP() << "no built modules named";
    for (const std::string &path : modules) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(pe::ReadFileBytes(path, &bytes)) << path;
        pe::ModuleInfo info;
        std::string error;
        ASSERT_TRUE(pe::ParseModule(bytes, &info, &error)) << path << ": " << error;
        EXPECT_TRUE(info.isDll) << path;
        const bool x64 = path.find("win64") != std::string::npos;
        EXPECT_EQ(info.machine, x64 ? pe::kMachineAmd64 : pe::kMachineI386) << path;
        ASSERT_EQ(info.exports.size(), 1u) << path;
        EXPECT_EQ(info.exports[0].name, "PluginMain") << path;
        // Windows' own DLLs only: the C and C++ runtimes are linked in. The
        // common dialogs are loaded for a file dialog alone.
        const std::vector<std::string> windowsOwn = {"kernel32.dll", "user32.dll",  "gdi32.dll", "advapi32.dll",
                                                     "comctl32.dll", "shell32.dll", "msvcrt.dll"};
        for (std::string dll : info.importedDlls) {
            for (char &ch : dll)
                ch = char(std::tolower(static_cast<unsigned char>(ch)));
            EXPECT_NE(std::find(windowsOwn.begin(), windowsOwn.end(), dll), windowsOwn.end())
                << path << " imports " << dll;
        }
    }
}
