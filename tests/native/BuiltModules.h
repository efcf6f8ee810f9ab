// The module files built beside this tree (UMBROLUX_MODULES, paths separated
// by "|"), for the tests that read them.
#pragma once

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> BuiltModulePaths()
{
    std::vector<std::string> paths;
    std::stringstream list(UMBROLUX_MODULES);
    std::string path;
    while (std::getline(list, path, '|'))
        if (!path.empty())
            paths.push_back(path);
    return paths;
}
