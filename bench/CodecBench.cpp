// Speed figures for the host's PNG reader and writer on a PNG file: reading
// it, writing it again, and reading back what was written. Prints, never
// judges.
//
//   codec_bench PHOTO.png
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/BenchFiles.h"
#include "host/core/Parallel.h"
#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"

int main(int argc, char **argv)
{
    std::vector<uint8_t> file;
    if (argc != 2 || !ReadWholeFile(argv[1], &file)) {
        std::fprintf(stderr, "usage: codec_bench PHOTO.png\n");
        return 2;
    }
    Document document;
    std::string error;
    if (ReadPng(file.data(), file.size(), &document, &error) != PngRead::Read) {
        std::fprintf(stderr, "codec_bench: %s: %s\n", argv[1], error.empty() ? "not a PNG this reader takes" : error.c_str());
        return 1;
    }
    const double megapixels = double(document.width) * double(document.height) / 1e6;
    std::printf("  %d x %d, %d-bit, %.1f MP, %.1f MB\n", document.width, document.height, document.depth, megapixels,
                file.size() / 1e6);
    // On one thread, as before, and on every processor: the file as it
    // is, written again, and read back (in pieces when written on several).
    for (int threads : {1, parallel::ProcessorCount()}) {
        const double read = BestSeconds(3, [&] {
            Document d;
            ReadPng(file.data(), file.size(), &d, &error, 30000, threads);
        });
        std::vector<uint8_t> written;
        written.reserve(file.size() * 2);
        const double write = BestSeconds(3, [&] {
            written.clear();
            WritePng(document, [&](const uint8_t *b, size_t n) {
                written.insert(written.end(), b, b + n);
                return true;
            }, &error, threads);
        });
        const double readBack = BestSeconds(3, [&] {
            Document d;
            ReadPng(written.data(), written.size(), &d, &error, 30000, threads);
        });
        std::printf("  %d thread(s)\n", threads);
        std::printf("    read the file             %6.3f s %7.1f MP/s\n", read, megapixels / read);
        std::printf("    write it                  %6.3f s %7.1f MP/s (%.1f MB)\n", write, megapixels / write,
                    written.size() / 1e6);
        std::printf("    read what was written     %6.3f s %7.1f MP/s\n", readBack, megapixels / readBack);
        if (threads == parallel::ProcessorCount())
            break;
    }
    return 0;
}
