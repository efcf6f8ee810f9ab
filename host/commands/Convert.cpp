#include "host/commands/Commands.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/commands/Options.h"
#include "host/commands/Output.h"
#include "host/core/Document.h"
#include "host/core/Parallel.h"
#include "host/files/FileJob.h"
#include "host/files/FileSystem.h"
#include "host/files/ImageFile.h"
#include "engine/Raster.h"

namespace commands {

namespace {

int ConvertImage(int argc, char **argv)
{
    int depth = 0;
    if (argc == 6 && std::strcmp(argv[4], "--depth") == 0)
        depth = std::atoi(argv[5]);
    if ((argc != 4 && argc != 6) || (argc == 6 && depth != 8 && depth != 16)) {
        Usage();
        return 2;
    }
    Document document;
    std::string error;
    if (files::SameFile(argv[2], argv[3])) {
        Say(stderr, "filterhost: the output %s would replace the input %s (it is the same file)\n", argv[3], argv[2]);
        return 2;
    }
    ImageMetadata metadata;
    if (!LoadImageFile(argv[2], &document, &error, &metadata)) {
        Say(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    if (depth != 0 && depth != document.depth) {
        for (auto &plane : document.planes)
            for (uint16_t &v : plane)
                v = depth == 16 ? Convert8To16(v) : Convert16To8(v);
        document.depth = depth;
        if (document.mode == plugInModeRGBColor || document.mode == plugInModeRGB48)
            document.mode = depth == 16 ? plugInModeRGB48 : plugInModeRGBColor;
        else
            document.mode = depth == 16 ? plugInModeGray16 : plugInModeGrayScale;
    }
    ImageWriteOptions options;
    options.metadata = &metadata;
    std::vector<std::string> dropped = metadata.dropped;
    if (!SaveImageFile(argv[3], document, &error, options, &dropped)) {
        Say(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    std::string words = NotKeptWords(dropped);
    if (!words.empty()) {
        words[0] = 'N';
        Say(stdout, "%s.\n", words.c_str());
    }
    return 0;
}


} // namespace

int Convert(int argc, char **argv)
{
    parallel::SetThreadCount(parallel::ProcessorCount());
    return ConvertImage(argc, argv);
}

} // namespace commands
