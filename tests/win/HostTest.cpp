// The emulated host itself: what it reports about a faulty module, its
// command line, and its image files.
#include <cstdio>

#include "TestHost.h"
#include "host/FilterRegistry.h"
#include "host/ImageFile.h"

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
    Document d = MakeDocument(7, 5, 3, 16, plugInModeRGB48);
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

    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " batch " + Quote(ModulePath()) + " " +
                                       Quote(out) + " " + Quote(in) + " --set gamma=2,contrast=230");
    EXPECT_EQ(r.exitCode, 1u) << r.output;  // one file failed
    EXPECT_NE(r.output.find("[3/3] "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("c.png: FAILED"), std::string::npos) << r.output;
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
    }
    for (const char *name : {"\\a.png", "\\b.tif", "\\c.png"}) {
        DeleteFileA((in + name).c_str());
        DeleteFileA((out + name).c_str());
    }
    RemoveDirectoryA(in.c_str());
    RemoveDirectoryA(out.c_str());
    DeleteFilterKey();
}
