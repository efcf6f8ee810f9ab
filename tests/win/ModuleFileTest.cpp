// The built module as a file: its machine type, its export and its imports.
#include <algorithm>
#include <cctype>

#include "TestHost.h"
#include "host/core/PeFile.h"

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

pe::ModuleInfo ReadModule()
{
    std::vector<uint8_t> bytes;
    pe::ModuleInfo info;
    std::string error;
    EXPECT_TRUE(pe::ReadFileBytes(ModulePath(), &bytes)) << ModulePath();
    EXPECT_TRUE(pe::ParseModule(bytes, &info, &error)) << error;
    return info;
}

} // namespace

TEST(ModuleFile, IsADllForThisMachine)
{
    const pe::ModuleInfo info = ReadModule();
    EXPECT_TRUE(info.isDll);
#if defined(UMBROLUX_MACHINE_x64)
    EXPECT_EQ(info.machine, pe::kMachineAmd64);
    EXPECT_TRUE(info.isPe32Plus);
#else
    EXPECT_EQ(info.machine, pe::kMachineI386);
    EXPECT_FALSE(info.isPe32Plus);
#endif
}

TEST(ModuleFile, ExportsOnlyAnUndecoratedPluginMain)
{
    const pe::ModuleInfo info = ReadModule();
    ASSERT_EQ(info.exports.size(), 1u);
    EXPECT_EQ(info.exports[0].name, "PluginMain");
}

TEST(ModuleFile, ImportsOnlyWindowsOwnDlls)
{
    const pe::ModuleInfo info = ReadModule();
    const std::vector<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                             "advapi32.dll", "shell32.dll", "comctl32.dll", "msvcrt.dll"};
    EXPECT_FALSE(info.importedDlls.empty());
    for (const std::string &dll : info.importedDlls)
        EXPECT_NE(std::find(system.begin(), system.end(), Lower(dll)), system.end())
            << dll << " is not one of Windows' own DLLs";
}

// The common dialogs (and the printer spooler they bring) are loaded for a
// file dialog alone, never with the module.
TEST(ModuleFile, DoesNotImportTheCommonDialogs)
{
    const pe::ModuleInfo info = ReadModule();
    for (const std::string &dll : info.importedDlls)
        EXPECT_NE(Lower(dll), "comdlg32.dll");
    EXPECT_FALSE(info.importedDlls.empty());
}
