// The emulated host itself: what it reports about a faulty module, its
// command line, and its image files.
#include <algorithm>
#include <cstdio>

#include <wincodec.h>

#include "TestHost.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/files/ImageFile.h"
#include "host/core/Parallel.h"
#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"

#include <zlib.h>

namespace {

class FaultyModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.Load(BesideTests("Misbehaving.8bf"), &error)) << error;
        module = GetModuleHandleA(BesideTests("Misbehaving.8bf").c_str());
        ASSERT_NE(module, nullptr);
    }
    void Misbehave(int how)
    {
        auto set = reinterpret_cast<void(__cdecl *)(int)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "SetMisbehaviour")));
        ASSERT_NE(set, nullptr);
        set(how);
    }

    FilterHost host;
    HMODULE module = nullptr;
};

} // namespace

TEST_F(FaultyModuleTest, APlugInThatNeverEmptiesItsRectanglesIsStopped)
{
    Misbehave(1);
    host.behaviour.continueLimit = 50;
    Document d = MakeDocument(4, 4, 3, 8, plugInModeRGBColor);
    const RunReport report = host.Run(d);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_NE(report.failures[0].find("never emptied"), std::string::npos);
    EXPECT_EQ(host.CountEvents(EventKind::Selector, "continue"), 50u);
    EXPECT_FALSE(report.finished);
}

TEST_F(FaultyModuleTest, ASuiteLeftAcquiredIsReported)
{
    Misbehave(2);
    Document d = MakeDocument(4, 4, 3, 8, plugInModeRGBColor);
    const RunReport report = host.Run(d);
    ASSERT_EQ(report.leaks.size(), 1u);
    EXPECT_NE(report.leaks[0].find(kPSBufferSuite), std::string::npos);
    // Reported once: the next run starts from a clean slate.
    Misbehave(0);
    EXPECT_TRUE(host.Run(d).Clean());
}

TEST_F(FaultyModuleTest, BuffersHandlesAndPortsLeftBehindAreReported)
{
    Misbehave(3);
    Document d = MakeDocument(4, 4, 3, 8, plugInModeRGBColor);
    const RunReport report = host.Run(d);
    ASSERT_EQ(report.leaks.size(), 3u);
    std::string all;
    for (const std::string &leak : report.leaks)
        all += leak + "\n";
    EXPECT_NE(all.find("buffer of 100 bytes"), std::string::npos) << all;
    EXPECT_NE(all.find("handle of 10 bytes"), std::string::npos) << all;
    EXPECT_NE(all.find("channel port"), std::string::npos) << all;
}

TEST_F(FaultyModuleTest, ARegistryKeyLeftOpenIsReported)
{
    Misbehave(4);
    Document d = MakeDocument(4, 4, 3, 8, plugInModeRGBColor);
    const RunReport report = host.Run(d);
    ASSERT_EQ(report.leaks.size(), 1u);
    EXPECT_NE(report.leaks[0].find("registry key"), std::string::npos) << report.leaks[0];
}

TEST(HostCommandLine, RunsTheFilterOverAPhotographAndWritesTheResult)
{
    const std::string out = TempPath("out.png");
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) +
                                       " " + Quote(BesideTests("cliff-backlit-500x420.png")) + " " + Quote(out) +
                                       " --set gamma=2 --tile 128x100");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("500 x 420, RGBMode, 8-bit, 3 plane(s)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("finish     -> 0"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("LEAK"), std::string::npos) << r.output;

    Document written, original;
    std::string error;
    ASSERT_TRUE(LoadImageFile(out, &written, &error)) << error;
    ASSERT_TRUE(LoadImageFile(BesideTests("cliff-backlit-500x420.png"), &original, &error)) << error;
    EXPECT_NE(r.output.find("20 of 20 tiles"), std::string::npos) << r.output;
    EXPECT_EQ(written.width, original.width);
    EXPECT_EQ(written.depth, 8);
    EXPECT_NE(written.planes, original.planes);
    DeleteFileA(out.c_str());
}

TEST(HostCommandLine, SixteenBitFilesComeBackAtTheirDepthAsTheHostRenderedThem)
{
    ASSERT_TRUE(DeleteFilterKey());
    Document d = MakeDocument(90, 70, 3, 16, plugInModeRGB48);
    FillTestPattern(&d, 21);
    std::string error;
    for (const char *ext : {".tif", ".png"}) {
        const std::string in = TempPath(std::string("in16") + ext), out = TempPath(std::string("out16") + ext);
        ASSERT_TRUE(SaveImageFile(in, d, &error)) << error;
        const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                           Quote(in) + " " + Quote(out) + " --set gamma=1.7,contrast=240 --tile 64x32");
        ASSERT_EQ(r.exitCode, 0u) << r.output;
        Document written;
        ASSERT_TRUE(LoadImageFile(out, &written, &error)) << error;
        EXPECT_EQ(written.depth, 16) << ext;

        // The same run in this process, on the same values.
        FilterHost host;
        ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
        host.behaviour.tileWidth = 64;
        host.behaviour.tileHeight = 32;
        Document here = d;
        ASSERT_EQ(host.Run(here).result, 0);
        EXPECT_TRUE(written.planes == here.planes) << ext;
        EXPECT_FALSE(written.planes == d.planes) << ext;
        DeleteFileA(in.c_str());
        DeleteFileA(out.c_str());
    }
    DeleteFilterKey();
}

TEST(HostCommandLine, AGreyImageSelectsWhereTheFilterWorks)
{
    ASSERT_TRUE(DeleteFilterKey());
    Document d = MakeDocument(80, 60, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 8);
    Document mask = MakeDocument(80, 60, 1, 8, plugInModeGrayScale);
    for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 80; ++x)
            mask.At(0, x, y) = uint16_t(x < 40 ? 0 : (y < 30 ? 255 : 100));
    std::string error;
    const std::string in = TempPath("sel-in.png"), maskPath = TempPath("sel-mask.png"), out = TempPath("sel-out.png");
    ASSERT_TRUE(SaveImageFile(in, d, &error)) << error;
    ASSERT_TRUE(SaveImageFile(maskPath, mask, &error)) << error;
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                       Quote(in) + " " + Quote(out) + " --set gamma=2 --selection " + Quote(maskPath));
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    Document written;
    ASSERT_TRUE(LoadImageFile(out, &written, &error)) << error;

    FilterHost host;
    ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
    Document here = d;
    here.selection.resize(80 * 60);
    for (size_t i = 0; i < here.selection.size(); ++i)
        here.selection[i] = uint8_t(mask.planes[0][i]);
    ASSERT_EQ(host.Run(here).result, 0);
    EXPECT_TRUE(written.planes == here.planes);
    for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 40; ++x)
            ASSERT_EQ(written.At(1, x, y), d.At(1, x, y)) << "unselected " << x << "," << y;

    // A mask of another size is bad input.
    Document small = MakeDocument(8, 6, 1, 8, plugInModeGrayScale);
    ASSERT_TRUE(SaveImageFile(maskPath, small, &error)) << error;
    const ProcessResult bad = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                         Quote(in) + " " + Quote(out) + " --selection " + Quote(maskPath));
    EXPECT_EQ(bad.exitCode, 2u) << bad.output;
    for (const std::string &f : {in, maskPath, out})
        DeleteFileA(f.c_str());
    DeleteFilterKey();
}

TEST(HostCommandLine, AnswersBadInputWithOneLineAndAFailureStatus)
{
    const std::string host = Quote(BesideTests("filterhost.exe"));
    const std::string notAnImage = TempPath("not-an-image.png");
    FILE *f = std::fopen(notAnImage.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("this is text, not a picture\n", f);
    std::fclose(f);

    const std::string photo = Quote(BesideTests("cliff-backlit-500x420.png"));
    const std::vector<std::string> commands = {
        host + " run " + Quote(ModulePath()) + " " + Quote(TempPath("missing.png")),
        host + " run " + Quote(ModulePath()) + " " + Quote(notAnImage),
        host + " run " + Quote(BesideTests("filterhost.exe")) + " " + photo,
        host + " run " + photo + " " + photo,
        host + " run " + Quote(ModulePath()) + " " + photo + " --gamma two",
        host + " run " + Quote(ModulePath()) + " " + photo + " --tile 0x",
        host + " run " + Quote(ModulePath()) + " " + photo + " --set gamma=two",
        host + " run " + Quote(ModulePath()) + " " + photo + " --set brightness=2",
    };
    for (const std::string &command : commands) {
        const ProcessResult r = RunProcess(command);
        EXPECT_NE(r.exitCode, 0u) << command;
        EXPECT_FALSE(r.output.empty()) << command;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_EQ(r.output.find("Document"), std::string::npos) << r.output;
    }
    DeleteFileA(notAnImage.c_str());

    const ProcessResult usage = RunProcess(host + " frobnicate");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.output.find("usage:"), std::string::npos) << usage.output;
}

TEST(ImageFiles, SixteenBitSamplesSurviveASaveAndALoad)
{
    // Tall enough that files are read and written in several strips of rows.
    Document d = MakeDocument(7, 150, 3, 16, plugInModeRGB48);
    FillTestPattern(&d, 3);
    d.At(0, 0, 0) = 0;
    d.At(1, 0, 0) = kHost16BitMax;
    d.At(2, 0, 0) = 1;
    for (const char *ext : {".png", ".tif"}) {
        const std::string path = TempPath(std::string("sixteen") + ext);
        std::string error;
        ASSERT_TRUE(SaveImageFile(path, d, &error)) << error;
        Document back;
        ASSERT_TRUE(LoadImageFile(path, &back, &error)) << error;
        EXPECT_EQ(back.depth, 16) << ext;
        EXPECT_EQ(back.mode, plugInModeRGB48) << ext;
        EXPECT_EQ(back.planes, d.planes) << ext;
        DeleteFileA(path.c_str());
    }
}

TEST(ImageFiles, EightBitPhotographSurvivesASaveAndALoad)
{
    Document photo;
    std::string error;
    ASSERT_TRUE(LoadImageFile(BesideTests("cliff-backlit-500x420.png"), &photo, &error)) << error;
    EXPECT_EQ(photo.width, 500);
    EXPECT_EQ(photo.height, 420);
    EXPECT_EQ(photo.depth, 8);
    for (const char *name : {"photo.png", "photo.tif"}) {
        const std::string path = TempPath(name);
        ASSERT_TRUE(SaveImageFile(path, photo, &error)) << error;
        Document back;
        ASSERT_TRUE(LoadImageFile(path, &back, &error)) << error;
        EXPECT_EQ(back.depth, 8) << name;
        EXPECT_EQ(back.planes, photo.planes) << name;
        DeleteFileA(path.c_str());
    }
}

TEST(HostCommandLine, TypesIntoTheDialogAndSavesItsScreenshotAndMaskView)
{
    DeleteFilterKey();
    const std::string out = TempPath("typed.png"), shot = TempPath("dialog.png"), mask = TempPath("mask.png");
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                       Quote(BesideTests("cliff-backlit-500x420.png")) + " " + Quote(out) +
                                       " --set bias=0.7,contrast=200 --screenshot " + Quote(shot) + " --mask-view " +
                                       Quote(mask));
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    Document dialog, maskView;
    std::string error;
    ASSERT_TRUE(LoadImageFile(shot, &dialog, &error)) << error;
    ASSERT_TRUE(LoadImageFile(mask, &maskView, &error)) << error;
    EXPECT_GT(dialog.width, 400);   // the whole dialog, caption included
    EXPECT_GT(dialog.height, 300);
    EXPECT_GT(maskView.width, 200);  // the preview's size, inside the dialog
    EXPECT_LT(maskView.width, dialog.width);
    for (size_t i = 0; i < maskView.planes[0].size(); ++i)
        ASSERT_TRUE(maskView.planes[0][i] == maskView.planes[1][i] && maskView.planes[1][i] == maskView.planes[2][i]);
    // The typed values were the run's.
    float contrast = 0;
    ASSERT_TRUE(ReadFilterFloat("Last contrast", &contrast));
    EXPECT_EQ(contrast, 200.0f);
    for (const std::string &f : {out, shot, mask})
        DeleteFileA(f.c_str());
    DeleteFilterKey();
}

TEST(HostCommandLine, FiltersAFolderInOneBatchAndGoesOnPastABadFile)
{
    DeleteFilterKey();
    const std::string in = TempPath("batch-in"), out = TempPath("batch-out");
    CreateDirectoryA(in.c_str(), nullptr);
    Document eight = MakeDocument(60, 40, 3, 8, plugInModeRGBColor), sixteen = MakeDocument(30, 20, 3, 16, plugInModeRGB48);
    FillTestPattern(&eight, 3);
    FillTestPattern(&sixteen, 4);
    std::string error;
    ASSERT_TRUE(SaveImageFile(in + "\\a.png", eight, &error)) << error;
    ASSERT_TRUE(SaveImageFile(in + "\\b.tif", sixteen, &error)) << error;
    FILE *f = std::fopen((in + "\\c.png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a picture", f);
    std::fclose(f);

    // One file after another in this process, and two at once in processes
    // of their own: the same lines, the same outputs.
    for (const char *jobs : {" --jobs 1", " --jobs 2"}) {
        SCOPED_TRACE(jobs);
        const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " batch " + Quote(ModulePath()) +
                                           " " + Quote(out) + " " + Quote(in) + " --set gamma=2,contrast=230" + jobs);
        EXPECT_EQ(r.exitCode, 1u) << r.output;  // one file failed
        EXPECT_NE(r.output.find("[3/3] "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("c.png: FAILED"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("a.png: 60 x 40, RGBMode, 8-bit -> "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("Batch: 2 of 3 file(s) filtered, 1 failed"), std::string::npos) << r.output;

        // Each output is what a single run with the same values gives.
        FilterHost host;
        ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
        for (const auto &file : {std::make_pair(std::string("a.png"), eight), std::make_pair(std::string("b.tif"), sixteen)}) {
            Document written, expected = file.second;
            ASSERT_TRUE(LoadImageFile(out + "\\" + file.first, &written, &error)) << error;
            ASSERT_EQ(host.Run(expected).result, 0);
            if (expected.depth == 16)  // as the file stores it
                for (auto &plane : expected.planes)
                    for (uint16_t &v : plane)
                        v = FileToHost16(HostToFile16(v));
            EXPECT_TRUE(written.planes == expected.planes) << file.first;
            DeleteFileA((out + "\\" + file.first).c_str());
        }
    }
    for (const char *name : {"\\a.png", "\\b.tif", "\\c.png"}) {
        DeleteFileA((in + name).c_str());
        DeleteFileA((out + name).c_str());
    }
    RemoveDirectoryA(in.c_str());
    RemoveDirectoryA(out.c_str());
    DeleteFilterKey();
}

namespace {

uint32_t Crc32(const uint8_t *data, size_t size, uint32_t crc = 0xFFFFFFFFu)
{
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

// A PNG written by hand, for the kinds the host's own writer does not make:
// `rows` are the filtered rows (a filter byte, then the packed samples), in
// one stored deflate block.
void WritePng(const std::string &path, uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType,
              const std::vector<uint8_t> &rows, const std::vector<uint8_t> &palette = {})
{
    uint32_t a = 1, b = 0;
    for (uint8_t v : rows)
        a = (a + v) % 65521, b = (b + a) % 65521;
    std::vector<uint8_t> z = {0x78, 0x01, 0x01, uint8_t(rows.size()), uint8_t(rows.size() >> 8),
                              uint8_t(~rows.size()), uint8_t(~rows.size() >> 8)};
    z.insert(z.end(), rows.begin(), rows.end());
    for (int shift = 24; shift >= 0; shift -= 8)
        z.push_back(uint8_t(((b << 16) | a) >> shift));

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char *type, const std::vector<uint8_t> &data) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(uint8_t(data.size() >> shift));
        const size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        const uint32_t crc = ~Crc32(&png[start], png.size() - start);
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(uint8_t(crc >> shift));
    };
    std::vector<uint8_t> header;
    for (uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(uint8_t(v >> shift));
    header.insert(header.end(), {bitDepth, colourType, 0, 0, 0});
    chunk("IHDR", header);
    if (!palette.empty())
        chunk("PLTE", palette);
    chunk("IDAT", z);
    chunk("IEND", {});
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
}

// An 8-bit RGBA PNG: a layer with transparency.
void WriteRgbaPng(const std::string &path, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < height; ++y) {
        rows.push_back(0);
        for (uint32_t x = 0; x < width * 4; ++x)
            rows.push_back(uint8_t(x * 7 + y));
    }
    WritePng(path, width, height, 8, 6, rows);
}

std::vector<uint8_t> FileBytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

std::vector<std::string> FilesIn(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveFolder(const std::string &folder)
{
    for (const std::string &name : FilesIn(folder))
        DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace

// People's files: a batch never writes over an input and gives every input
// its own output, goes on past a file the filter refuses, and a run that did
// not complete leaves no output behind.
TEST(HostCommandLine, NeverWritesOverAnInputAndWritesOnlyCompletedRuns)
{
    DeleteFilterKey();
    const std::string host = Quote(BesideTests("filterhost.exe")), module = Quote(ModulePath());
    const std::string one = TempPath("safe-one"), two = TempPath("safe-two"), out = TempPath("safe-out");
    for (const std::string &folder : {one, two, out})
        CreateDirectoryA(folder.c_str(), nullptr);
    Document photo = MakeDocument(40, 30, 3, 8, plugInModeRGBColor);
    FillTestPattern(&photo, 9);
    std::string error;
    ASSERT_TRUE(SaveImageFile(one + "\\x.png", photo, &error)) << error;
    ASSERT_TRUE(SaveImageFile(two + "\\x.png", photo, &error)) << error;
    ASSERT_TRUE(SaveImageFile(one + "\\z.png", photo, &error)) << error;
    WriteRgbaPng(one + "\\y.png", 8, 4);  // between x and z
    const std::vector<uint8_t> original = FileBytes(one + "\\x.png");
    ASSERT_FALSE(original.empty());

    // Two inputs of one name, and a refused layer in the middle.
    ProcessResult r = RunProcess(host + " batch " + module + " " + Quote(out) + " " + Quote(one) + " " + Quote(two) +
                                 " --ok");
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("y.png: FAILED: the filter refused it"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Filter works on background layer only"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Batch: 3 of 4 file(s) filtered, 1 failed"), std::string::npos) << r.output;
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"x-1.png", "x.png", "z.png"}));

    // Into the inputs' own folder: every output gets a name of its own.
    r = RunProcess(host + " batch " + module + " " + Quote(one) + " " + Quote(one + "\\x.png") + " " +
                   Quote(two + "\\x.png") + " --ok");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(FilesIn(one), (std::vector<std::string>{"x-1.png", "x-2.png", "x.png", "y.png", "z.png"}));
    EXPECT_TRUE(FileBytes(one + "\\x.png") == original) << "an input was written over";

    // run: the input as its own output (by another spelling), an output
    // folder that does not exist, a refused layer and a failed run.
    const std::string shouted = one + "\\X.PNG";
    r = RunProcess(host + " run " + module + " " + Quote(one + "\\x.png") + " " + Quote(shouted) + " --ok");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
    EXPECT_NE(r.output.find("would replace the input"), std::string::npos) << r.output;
    r = RunProcess(host + " run " + module + " " + Quote(one + "\\x.png") + " " + Quote(out + "\\none\\o.png") +
                   " --ok");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
    EXPECT_NE(r.output.find("does not exist"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Filter "), std::string::npos) << "checked only after loading: " << r.output;
    for (const std::string &args : {Quote(one + "\\y.png") + " " + Quote(out + "\\refused.png") + " --ok",
                                    Quote(one + "\\x.png") + " " + Quote(out + "\\failed.png") + " --ok --tile 0x0"}) {
        r = RunProcess(host + " run " + module + " " + args);
        EXPECT_NE(r.exitCode, 0u) << r.output;
        EXPECT_NE(r.output.find("Nothing written"), std::string::npos) << r.output;
    }
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"x-1.png", "x.png", "z.png"}));
    EXPECT_TRUE(FileBytes(one + "\\x.png") == original);

    for (const std::string &folder : {one, two, out})
        RemoveFolder(folder);
    DeleteFilterKey();
}

// Files the platform's codecs read but that are no 8- or 16-bit RGB: palette
// and bilevel images open as RGB, as a host opens them; a file of another
// kind is named for what it is.
TEST(ImageFiles, PaletteAndBilevelImagesOpenAsRgbAndOtherKindsAreNamed)
{
    const std::string palettePath = TempPath("palette.png"), bilevelPath = TempPath("bilevel.png");
    // 3 x 2 pixels: indices 0 1 2 / 2 1 0 into red, green and a grey.
    WritePng(palettePath, 3, 2, 8, 3, {0, 0, 1, 2, 0, 2, 1, 0}, {255, 0, 0, 0, 255, 0, 90, 90, 90});
    // 10 x 1 pixels, one bit each: 1010000011.
    WritePng(bilevelPath, 10, 1, 1, 0, {0, 0xA0, 0xC0});
    Document d;
    std::string error;
    ASSERT_TRUE(LoadImageFile(palettePath, &d, &error)) << error;
    EXPECT_EQ(d.mode, plugInModeRGBColor);
    EXPECT_EQ(d.PlaneCount(), 3);
    EXPECT_FALSE(d.hasTransparency);
    const uint16_t expected[2][3][3] = {{{255, 0, 0}, {0, 255, 0}, {90, 90, 90}},
                                        {{90, 90, 90}, {0, 255, 0}, {255, 0, 0}}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(d.At(c, x, y), expected[y][x][c]) << x << "," << y << " channel " << c;

    ASSERT_TRUE(LoadImageFile(bilevelPath, &d, &error)) << error;
    EXPECT_EQ(d.mode, plugInModeRGBColor);
    ASSERT_EQ(d.width, 10);
    const int bits[10] = {1, 0, 1, 0, 0, 0, 0, 0, 1, 1};
    for (int x = 0; x < 10; ++x)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(d.At(c, x, 0), bits[x] ? 255 : 0) << x;

    // A BMP (a 1 x 1 24-bit one) is read by the platform, but is not for this host.
    const std::string bmpPath = TempPath("picture.png");
    const std::vector<uint8_t> bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0,
                                      1,   0,   0,  0, 1, 0, 24, 0, 0, 0, 0,  0, 4, 0, 0, 0, 0,  0, 0, 0,
                                      0,   0,   0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 10, 20, 30, 0};
    FILE *f = std::fopen(bmpPath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bmp.data(), 1, bmp.size(), f);
    std::fclose(f);
    EXPECT_FALSE(LoadImageFile(bmpPath, &d, &error));
    EXPECT_NE(error.find("it is a BMP image; only PNG, TIFF and JPEG files are supported"), std::string::npos)
        << error;
    for (const std::string &path : {palettePath, bilevelPath, bmpPath})
        DeleteFileA(path.c_str());
}

namespace {

// A baseline TIFF written by hand: 8-bit samples, uncompressed, one strip a
// page; `photometric` 2 is RGB and 5 is CMYK (separated), with
// `samplesPerPixel` samples of `value` each. `pages` pages, each its own IFD.
void WriteTiff(const std::string &path, uint32_t width, uint32_t height, uint16_t photometric,
               uint16_t samplesPerPixel, int pages, uint8_t value)
{
    std::vector<uint8_t> t = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put16 = [&](size_t at, uint16_t v) { t[at] = uint8_t(v); t[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) t[at + i] = uint8_t(v >> (8 * i)); };
    size_t link = 4;  // where the offset of the next IFD goes
    const uint32_t stripBytes = width * height * samplesPerPixel;
    for (int page = 0; page < pages; ++page) {
        const size_t bits = t.size();
        t.insert(t.end(), size_t(samplesPerPixel) * 2, 0);
        for (uint16_t k = 0; k < samplesPerPixel; ++k)
            put16(bits + k * 2u, 8);
        const size_t strip = t.size();
        t.insert(t.end(), stripBytes, value);
        if (t.size() % 2)
            t.push_back(0);
        const size_t ifd = t.size();
        put32(link, uint32_t(ifd));
        struct Entry {
            uint16_t tag, type;
            uint32_t count, value;
        };
        const Entry entries[] = {
            {256, 4, 1, width},
            {257, 4, 1, height},
            {258, 3, samplesPerPixel, samplesPerPixel <= 2 ? 8u | (8u << 16) : uint32_t(bits)},
            {259, 3, 1, 1},
            {262, 3, 1, photometric},
            {273, 4, 1, uint32_t(strip)},
            {277, 3, 1, samplesPerPixel},
            {278, 4, 1, height},
            {279, 4, 1, stripBytes},
            {284, 3, 1, 1},
        };
        const uint16_t count = uint16_t(sizeof entries / sizeof entries[0]);
        t.insert(t.end(), 2 + count * 12u + 4, 0);
        put16(ifd, count);
        for (uint16_t i = 0; i < count; ++i) {
            const size_t at = ifd + 2 + i * 12u;
            put16(at, entries[i].tag);
            put16(at + 2, entries[i].type);
            put32(at + 4, entries[i].count);
            if (entries[i].type == 3 && entries[i].count == 1)
                put16(at + 8, uint16_t(entries[i].value));
            else
                put32(at + 8, entries[i].value);
        }
        link = ifd + 2 + count * 12u;
    }
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(t.data(), 1, t.size(), f);
    std::fclose(f);
}

} // namespace

// A CMYK file is described as CMYK (so the filter's menu item is greyed for
// it, with that reason), and a file of several pages is refused with its page
// count rather than losing every page but the first.
TEST(ImageFiles, CmykStaysCmykAndSeveralPagesAreRefused)
{
    const std::string rgbPath = TempPath("plain.tif"), cmykPath = TempPath("cmyk.tif"),
                      pagesPath = TempPath("pages.tif");
    WriteTiff(rgbPath, 4, 3, 2, 3, 1, 77);
    WriteTiff(cmykPath, 4, 3, 5, 4, 1, 40);
    WriteTiff(pagesPath, 4, 3, 2, 3, 3, 77);
    Document d;
    std::string error;
    ASSERT_TRUE(LoadImageFile(rgbPath, &d, &error)) << error;  // the writer's own check
    EXPECT_EQ(d.mode, plugInModeRGBColor);
    EXPECT_EQ(d.At(1, 2, 1), 77);

    ASSERT_TRUE(LoadImageFile(cmykPath, &d, &error)) << error;
    EXPECT_EQ(d.mode, plugInModeCMYKColor);
    EXPECT_EQ(d.PlaneCount(), 4);
    EXPECT_FALSE(d.hasTransparency);
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                       Quote(cmykPath) + " --ok");
    EXPECT_EQ(r.exitCode, 3u) << r.output;
    EXPECT_NE(r.output.find("not available for CMYKMode documents"), std::string::npos) << r.output;

    EXPECT_FALSE(LoadImageFile(pagesPath, &d, &error));
    EXPECT_NE(error.find("it holds 3 pages"), std::string::npos) << error;
    for (const std::string &path : {rgbPath, cmykPath, pagesPath})
        DeleteFileA(path.c_str());
}

namespace {

// A PNG file as the platform's own decoder reads it, in the file's sample
// range: RGB or grey, 8 or 16 bits, row after row. Empty when it cannot.
std::vector<uint16_t> DecodedByThePlatform(const std::string &path, bool grey, bool sixteen, UINT *width,
                                           UINT *height)
{
    std::vector<uint16_t> samples;
    const bool started = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    IWICImagingFactory *factory = nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *converter = nullptr;
    const std::wstring wide(path.begin(), path.end());
    const WICPixelFormatGUID format = grey ? (sixteen ? GUID_WICPixelFormat16bppGray : GUID_WICPixelFormat8bppGray)
                                           : (sixteen ? GUID_WICPixelFormat48bppRGB : GUID_WICPixelFormat24bppRGB);
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void **>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(width, height))) {
        // The decoder's own format when it is the one asked for; a
        // conversion otherwise.
        WICPixelFormatGUID own = {};
        IWICBitmapSource *source = frame;
        if (FAILED(frame->GetPixelFormat(&own)) || own != format) {
            if (FAILED(factory->CreateFormatConverter(&converter)) ||
                FAILED(converter->Initialize(frame, format, WICBitmapDitherTypeNone, nullptr, 0,
                                             WICBitmapPaletteTypeCustom)))
                source = nullptr;
            else
                source = converter;
        }
        const UINT channels = grey ? 1 : 3, sampleBytes = sixteen ? 2 : 1;
        const UINT stride = *width * channels * sampleBytes;
        std::vector<uint8_t> bytes(size_t(stride) * *height);
        if (source != nullptr && SUCCEEDED(source->CopyPixels(nullptr, stride, UINT(bytes.size()), bytes.data()))) {
            // WIC gives 16-bit samples in the machine's order.
            samples.resize(size_t(*width) * *height * channels);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = sixteen ? uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8) : bytes[i];
        }
    }
    for (IUnknown *object : std::initializer_list<IUnknown *>{converter, frame, decoder, factory})
        if (object != nullptr)
            object->Release();
    if (started)
        CoUninitialize();
    return samples;
}

} // namespace

// PNG files written on several threads (their image data deflated in
// pieces joined into one stream) read back as the one thread's do, through
// the host's own reader on one thread and on several, and through the
// platform's decoder; and they are about as large.
TEST(ImageFiles, PngFilesWrittenOnSeveralThreadsReadBackAsOnOne)
{
    struct Kind { int32_t width, height, planes, depth; int16_t mode; };
    for (const Kind &k : {Kind{1501, 903, 3, 8, plugInModeRGBColor}, Kind{1001, 701, 3, 16, plugInModeRGB48},
                          Kind{1999, 1777, 1, 8, plugInModeGrayScale}, Kind{777, 2001, 1, 16, plugInModeGray16},
                          Kind{3, 5, 3, 8, plugInModeRGBColor}}) {
        SCOPED_TRACE(std::to_string(k.width) + " x " + std::to_string(k.height) + ", " + std::to_string(k.planes) +
                     " plane(s), " + std::to_string(k.depth) + "-bit");
        Document d = MakeDocument(k.width, k.height, k.planes, k.depth, k.mode);
        FillTestPattern(&d, 11);
        d.At(0, 0, 0) = 0;
        d.At(0, 1, 0) = uint16_t(d.MaxSample());
        std::string error;
        const std::string one = TempPath("one-thread.png"), many = TempPath("four-threads.png");
        parallel::SetThreadCount(1);
        ASSERT_TRUE(SaveImageFile(one, d, &error)) << error;
        parallel::SetThreadCount(4);
        ASSERT_TRUE(SaveImageFile(many, d, &error)) << error;
        for (int threads : {1, 4}) {
            parallel::SetThreadCount(threads);
            for (const std::string &path : {one, many}) {
                Document back;
                ASSERT_TRUE(LoadImageFile(path, &back, &error)) << error;
                EXPECT_EQ(back.depth, d.depth);
                EXPECT_EQ(back.planes, d.planes) << path << " read on " << threads << " thread(s)";
            }
        }
        parallel::SetThreadCount(1);
        UINT width = 0, height = 0;
        const std::vector<uint16_t> platform = DecodedByThePlatform(many, k.planes == 1, k.depth == 16, &width, &height);
        ASSERT_FALSE(platform.empty());
        ASSERT_EQ(width, UINT(k.width));
        ASSERT_EQ(height, UINT(k.height));
        size_t mismatches = 0;
        for (int32_t y = 0; y < k.height; ++y)
            for (int32_t x = 0; x < k.width; ++x)
                for (int32_t p = 0; p < k.planes; ++p) {
                    const uint16_t host = d.At(p, x, y);
                    const uint16_t expected = k.depth == 16 ? HostToFile16(host) : host;
                    mismatches += platform[(size_t(y) * size_t(k.width) + size_t(x)) * size_t(k.planes) + size_t(p)] !=
                                  expected;
                }
        EXPECT_EQ(mismatches, 0u);
        WIN32_FILE_ATTRIBUTE_DATA a = {}, b = {};
        ASSERT_TRUE(GetFileAttributesExA(one.c_str(), GetFileExInfoStandard, &a));
        ASSERT_TRUE(GetFileAttributesExA(many.c_str(), GetFileExInfoStandard, &b));
        EXPECT_LT(double(b.nFileSizeLow), double(a.nFileSizeLow) * 1.03 + 64);
        DeleteFileA(one.c_str());
        DeleteFileA(many.c_str());
    }
}

// The host's blur and median in bands of rows on four threads: the filter
// gives the image it gives on one, sample for sample, at both depths.
TEST_F(ModuleTest, TheFilterGivesTheSameImageWithTheHostOnFourThreads)
{
    ASSERT_TRUE(DeleteFilterKey());
    ASSERT_TRUE(StoreFilterFloat("Last bias", 0.05f));
    ASSERT_TRUE(StoreFilterFloat("Last gamma", 2.0f));
    ASSERT_TRUE(StoreFilterFloat("Last contrast", 230.0f));
    for (int32_t depth : {8, 16}) {
        Document photo = MakeDocument(1000, 700, 3, depth, depth == 16 ? plugInModeRGB48 : plugInModeRGBColor);
        FillTestPattern(&photo, 23);
        Document one = photo, four = photo;
        parallel::SetThreadCount(1);
        const RunReport single = host.Run(one);
        parallel::SetThreadCount(4);
        const RunReport shared = host.Run(four);
        parallel::SetThreadCount(1);
        ASSERT_EQ(single.result, 0);
        ASSERT_EQ(shared.result, 0);
        EXPECT_TRUE(shared.Clean());
        EXPECT_NE(one.planes, photo.planes);
        EXPECT_EQ(four.planes, one.planes) << depth << "-bit";
        const auto applied = std::count_if(host.events.begin(), host.events.end(), [](const HostEvent &e) {
            return e.kind == EventKind::Port && e.text.compare(0, 6, "apply ") == 0;
        });
        EXPECT_GT(applied, 0);
    }
    DeleteFilterKey();
}

// A private list of pieces is outside data like any other: an end offset
// near 4 GB must not wrap a 32-bit size and send the reader past the file.
// The file reads as any other, its list ignored.
TEST(HostFiles, APieceListThatEndsNear4GBIsIgnoredInEitherBuild)
{
    Document d = MakeDocument(1000, 4000, 1, 8, plugInModeGrayScale);
    FillTestPattern(&d, 3);
    std::vector<uint8_t> file;
    std::string error;
    ASSERT_TRUE(WritePng(d, [&](const uint8_t *bytes, size_t size) {
        file.insert(file.end(), bytes, bytes + size);
        return true;
    }, &error, 1)) << error;
    // The list goes just before the first IDAT chunk (the signature and the
    // 25 bytes of IHDR come first).
    const uint8_t list[] = {0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0x81, 0, 0, 0, 0, 0, 0x0F, 0x9F, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<uint8_t> chunk = {0, 0, 0, uint8_t(sizeof list), 'z', 'p', 'I', 'X'};
    chunk.insert(chunk.end(), list, list + sizeof list);
    const uLong crc = crc32(0L, chunk.data() + 4, uInt(chunk.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.push_back(uint8_t(crc >> shift));
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());
    for (int threads : {1, 2}) {
        Document back;
        ASSERT_EQ(ReadPng(file.data(), file.size(), &back, &error, 30000, threads), PngRead::Read) << error;
        EXPECT_TRUE(back.planes == d.planes) << threads;
    }
}
