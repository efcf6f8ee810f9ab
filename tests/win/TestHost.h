// Shared helpers for the tests that run the built module in the emulated host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/session/FilterHost.h"

// A file that the build puts beside the test program.
std::string BesideTests(const std::string &name);

// The filter module under test.
inline std::string ModulePath()
{
    return BesideTests("Umbrolux.8bf");
}

// A path in the temporary folder, unique to this test process.
std::string TempPath(const std::string &name);

// A command-line argument in quotes.
inline std::string Quote(const std::string &s)
{
    return "\"" + s + "\"";
}

// Runs a command line given in UTF-8 (through the wide call), with
// `environment` ("NAME=VALUE", or empty) set for it alone; waits for it, and
// returns its exit code and what it printed (UTF-8).
struct ProcessResult {
    DWORD exitCode = 0;
    std::string output;
};
ProcessResult RunProcess(const std::string &commandLine, const std::string &environment = "");

// The tile requests of the last run, as "in (...) out (...)": the preview's
// own requests for image data ask for no output, and a request for an empty
// rectangle asks for nothing.
std::vector<std::string> TileRequests(const FilterHost &host);

// The part of a dialog's client area at `area` (client coordinates) as it
// stands on the screen; false when the screen cannot be read.
bool ClientAreaOnScreen(HWND dialog, const RECT &area, Document *cut);

// A host with the module loaded.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
    }

    FilterHost host;
};
