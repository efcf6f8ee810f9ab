// Shared helpers for the tests that run the built module in the emulated host.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/FilterHost.h"

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

// Runs a program, waits for it, and returns its exit code and output.
struct ProcessResult {
    DWORD exitCode = 0;
    std::string output;
};
ProcessResult RunProcess(const std::string &commandLine);

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
