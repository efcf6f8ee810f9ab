// Files for the native tests: a scratch folder of the process's own under
// the test framework's temporary folder, and a file's bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace native_files {

// testing::TempDir()/umbrolux-NAME-PID, made on first use.
inline std::string Folder(const std::string &name)
{
    const std::string folder = testing::TempDir() + "umbrolux-" + name + "-" + std::to_string(::getpid());
    std::system(("mkdir -p '" + folder + "'").c_str());
    return folder;
}

inline std::vector<uint8_t> Bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace native_files
