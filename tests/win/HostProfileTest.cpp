// The host's profiles: what the plain hosts put in the record and how their
// services answer, checked with a module whose selector calls the test plays.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "TestHost.h"
#include "host/session/HostProfile.h"

namespace {

// What the module does on each selector call.
std::function<void(int16_t, FilterRecord *, int16_t *)> gScript;

extern "C" void __cdecl RunScript(int16_t selector, void *block, int16_t *result)
{
    if (gScript && selector != filterSelectorAbout)
        gScript(selector, static_cast<FilterRecord *>(block), result);
}

class HostProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.Load(BesideTests("Scripted.8bf"), &error)) << error;
        HMODULE module = GetModuleHandleA(BesideTests("Scripted.8bf").c_str());
        ASSERT_NE(module, nullptr);
        auto set = reinterpret_cast<void(__cdecl *)(void(__cdecl *)(int16_t, void *, int16_t *))>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "SetScript")));
        ASSERT_NE(set, nullptr);
        set(RunScript);
    }
    void TearDown() override { gScript = nullptr; }

    // The module does `start` in its start call and nothing else.
    RunReport RunStart(Document &d, const std::function<void(FilterRecord *, int16_t *)> &start)
    {
        gScript = [&](int16_t selector, FilterRecord *r, int16_t *result) {
            if (selector == filterSelectorStart)
                start(r, result);
        };
        return host.Run(d);
    }

    // The record as the start call sees it.
    FilterRecord RecordAtStart(Document &d)
    {
        FilterRecord seen = {};
        RunStart(d, [&](FilterRecord *r, int16_t *) { seen = *r; });
        return seen;
    }

    FilterHost host;
};

std::string Joined(const std::vector<std::string> &lines)
{
    std::string all;
    for (const std::string &line : lines)
        all += line + "\n";
    return all;
}

Document Pattern(int32_t w, int32_t h)
{
    Document d = MakeDocument(w, h, 3, 8, plugInModeRGBColor);
    for (int32_t p = 0; p < 3; ++p)
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                d.At(p, x, y) = uint16_t((p * 80 + y * 16 + x) & 0xFF);
    return d;
}

} // namespace

TEST(HostProfiles, NamesReadBackAsTheirProfiles)
{
    for (HostProfile p : {HostProfile::Full, HostProfile::Plain, HostProfile::PlainHandles, HostProfile::PlainNoMemory}) {
        HostProfile read = HostProfile::Full;
        ASSERT_TRUE(ParseHostProfile(HostProfileName(p), &read)) << HostProfileName(p);
        EXPECT_EQ(read, p);
    }
    EXPECT_STREQ(HostProfileName(HostProfile::PlainHandles), "plain-handles");
    HostProfile untouched = HostProfile::Plain;
    EXPECT_FALSE(ParseHostProfile("Plain", &untouched));
    EXPECT_FALSE(ParseHostProfile("", &untouched));
    EXPECT_EQ(untouched, HostProfile::Plain);
}

TEST_F(HostProfileTest, TheFullHostOffersTheSuitesAndSignsAsTheInterfacesHost)
{
    Document d = Pattern(4, 4);
    const FilterRecord r = RecordAtStart(d);
    EXPECT_NE(r.sSPBasic, nullptr);
    EXPECT_NE(r.documentInfo, nullptr);
    EXPECT_NE(r.handleProcs, nullptr);
    EXPECT_EQ(r.bufferProcs, nullptr);
    EXPECT_EQ(r.hostSig, kPhotoshopSignature);
    EXPECT_EQ(r.samplingSupport, 0);
    EXPECT_NE(r.platformData, nullptr);
    EXPECT_EQ(r.depth, 8);
}

TEST_F(HostProfileTest, APlainHostOffersTheRecordAloneWithItsBufferAndHandleProcedures)
{
    host.behaviour.profile = HostProfile::Plain;
    Document d = Pattern(4, 4);
    const FilterRecord r = RecordAtStart(d);
    EXPECT_EQ(r.sSPBasic, nullptr);
    EXPECT_EQ(r.documentInfo, nullptr);
    EXPECT_EQ(r.channelPortProcs, nullptr);
    EXPECT_EQ(r.hostSig, kPlainHostSignature);
    EXPECT_EQ(r.samplingSupport, 1);
    ASSERT_NE(r.handleProcs, nullptr);
    ASSERT_NE(r.bufferProcs, nullptr);
    EXPECT_EQ(r.bufferProcs->bufferProcsVersion, 2);
    EXPECT_EQ(r.bufferProcs->numBufferProcs, 5);
    EXPECT_NE(r.bufferProcs->allocateProc, nullptr);
    EXPECT_NE(r.bufferProcs->lockProc, nullptr);
    EXPECT_NE(r.bufferProcs->unlockProc, nullptr);
    EXPECT_NE(r.bufferProcs->freeProc, nullptr);
    EXPECT_NE(r.bufferProcs->spaceProc, nullptr);
    EXPECT_EQ(r.bufferProcs->reserveProc, nullptr);
    EXPECT_EQ(r.bufferProcs->allocateProc64, nullptr);
    EXPECT_EQ(r.bufferProcs->spaceProc64, nullptr);
}

TEST_F(HostProfileTest, PlainHandlesOffersHandlesThatKeepNoSize)
{
    host.behaviour.profile = HostProfile::PlainHandles;
    Document d = Pattern(4, 4);
    bool checked = false;
    const RunReport report = RunStart(d, [&](FilterRecord *r, int16_t *) {
        EXPECT_EQ(r->bufferProcs, nullptr);
        EXPECT_EQ(r->sSPBasic, nullptr);
        ASSERT_NE(r->handleProcs, nullptr);
        Handle h = r->handleProcs->newProc(40);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(r->handleProcs->getSizeProc(h), 0);
        EXPECT_EQ(r->handleProcs->setSizeProc(h, 80), noErr);
        EXPECT_EQ(r->handleProcs->getSizeProc(h), 0);
        checked = true;
        // Left undisposed: the host still counts it.
    });
    EXPECT_TRUE(checked);
    ASSERT_EQ(report.leaks.size(), 1u) << Joined(report.leaks);
    EXPECT_NE(report.leaks[0].find("handle of 40 bytes"), std::string::npos) << report.leaks[0];
    EXPECT_EQ(host.CountEvents(EventKind::Handle, "setSize 80 (ignored)"), 1u);
}

TEST_F(HostProfileTest, PlainNoMemoryOffersNoMemoryAtAll)
{
    host.behaviour.profile = HostProfile::PlainNoMemory;
    Document d = Pattern(4, 4);
    const FilterRecord r = RecordAtStart(d);
    EXPECT_EQ(r.bufferProcs, nullptr);
    EXPECT_EQ(r.handleProcs, nullptr);
    EXPECT_EQ(r.sSPBasic, nullptr);
    EXPECT_EQ(r.documentInfo, nullptr);
    EXPECT_EQ(r.hostSig, kPlainHostSignature);
}

TEST_F(HostProfileTest, AHostCanSignWithTheBytesOfAnotherHost)
{
    host.behaviour.profile = HostProfile::Plain;
    host.behaviour.hostSignature = SignatureFromBytes('G', 'I', 'M', 'P');
    Document d = Pattern(4, 4);
    const FilterRecord r = RecordAtStart(d);
    EXPECT_EQ(std::memcmp(&r.hostSig, "GIMP", 4), 0);
    EXPECT_EQ(r.hostSig, MakeOSType('P', 'M', 'I', 'G'));
}

TEST_F(HostProfileTest, ARecordBufferLeftAllocatedIsReportedAndTheNextRunIsClean)
{
    host.behaviour.profile = HostProfile::Plain;
    Document d = Pattern(4, 4);
    bool freeIt = false;
    auto start = [&](FilterRecord *r, int16_t *) {
        BufferID id = nullptr;
        ASSERT_EQ(r->bufferProcs->allocateProc(100, &id), noErr);
        ASSERT_NE(id, nullptr);
        Ptr p = r->bufferProcs->lockProc(id, 0);
        ASSERT_NE(p, nullptr);
        std::memset(p, 7, 100);
        r->bufferProcs->unlockProc(id);
        if (freeIt)
            r->bufferProcs->freeProc(id);
    };
    RunReport report = RunStart(d, start);
    ASSERT_EQ(report.leaks.size(), 1u) << Joined(report.leaks);
    EXPECT_NE(report.leaks[0].find("record buffer of 100 bytes not freed"), std::string::npos) << report.leaks[0];
    EXPECT_TRUE(report.failures.empty()) << Joined(report.failures);
    EXPECT_EQ(host.CountEvents(EventKind::Buffer, "allocate 100"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Buffer, "lock 100"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Buffer, "unlock 100"), 1u);

    freeIt = true;
    host.events.clear();
    report = RunStart(d, start);
    EXPECT_TRUE(report.Clean()) << Joined(report.leaks) << Joined(report.failures);
    EXPECT_EQ(host.CountEvents(EventKind::Buffer, "free 100"), 1u);
}

TEST_F(HostProfileTest, RecordBuffersMisusedAreFailures)
{
    host.behaviour.profile = HostProfile::Plain;
    Document d = Pattern(4, 4);
    const RunReport report = RunStart(d, [&](FilterRecord *r, int16_t *) {
        BufferID a = nullptr, b = nullptr;
        ASSERT_EQ(r->bufferProcs->allocateProc(10, &a), noErr);
        ASSERT_EQ(r->bufferProcs->allocateProc(20, &b), noErr);
        r->bufferProcs->lockProc(a, 0);
        r->bufferProcs->freeProc(a);    // freed while locked
        r->bufferProcs->unlockProc(b);  // never locked
        r->bufferProcs->freeProc(b);
        EXPECT_EQ(r->bufferProcs->lockProc(b, 0), nullptr);  // freed: unknown now
    });
    EXPECT_TRUE(report.leaks.empty()) << Joined(report.leaks);
    const std::string all = Joined(report.failures);
    ASSERT_EQ(report.failures.size(), 3u) << all;
    EXPECT_NE(all.find("record buffer of 10 bytes freed while locked"), std::string::npos) << all;
    EXPECT_NE(all.find("unlock of a record buffer of 20 bytes that is not locked"), std::string::npos) << all;
    EXPECT_NE(all.find("lock of an unknown record buffer"), std::string::npos) << all;
}

TEST_F(HostProfileTest, RefusedAllocationsAnswerOutOfMemoryWithNoId)
{
    host.behaviour.profile = HostProfile::Plain;
    host.behaviour.failBufferOn = 2;
    Document d = Pattern(4, 4);
    const RunReport report = RunStart(d, [&](FilterRecord *r, int16_t *) {
        BufferID first = nullptr, second = reinterpret_cast<BufferID>(&first);
        EXPECT_EQ(r->bufferProcs->allocateProc(8, &first), noErr);
        EXPECT_EQ(r->bufferProcs->allocateProc(8, &second), memFullErr);
        EXPECT_EQ(second, nullptr);
        r->bufferProcs->freeProc(first);
    });
    EXPECT_TRUE(report.Clean()) << Joined(report.leaks) << Joined(report.failures);
    EXPECT_EQ(host.CountEvents(EventKind::Buffer, "allocate 8 (refused)"), 1u);

    host.behaviour.failBufferOn = 0;
    host.behaviour.failBufferAllocation = true;
    host.behaviour.failHandleAllocation = true;
    RunStart(d, [&](FilterRecord *r, int16_t *) {
        BufferID id = reinterpret_cast<BufferID>(&d);
        EXPECT_EQ(r->bufferProcs->allocateProc(8, &id), memFullErr);
        EXPECT_EQ(id, nullptr);
        EXPECT_EQ(r->handleProcs->newProc(8), nullptr);
    });
    EXPECT_EQ(host.CountEvents(EventKind::Handle, "new 8 (refused)"), 1u);
}

TEST_F(HostProfileTest, AtRateTwoAPlainHostDeliversEverySecondPixelOfTheReducedRectangle)
{
    host.behaviour.profile = HostProfile::Plain;
    Document d = Pattern(5, 3);
    const Document original = d;
    std::vector<uint8_t> got;
    int32_t rowBytes = 0;
    const RunReport report = RunStart(d, [&](FilterRecord *r, int16_t *) {
        r->inputRate = 2 << 16;
        // The reduced image is 3 x 2: the filter rectangle halved, rounded up.
        r->inRect = Rect{0, 0, 2, 3};
        r->inLoPlane = 0;
        r->inHiPlane = 2;
        r->outRect = Rect{};
        ASSERT_EQ(r->advanceState(), noErr);
        ASSERT_NE(r->inData, nullptr);
        rowBytes = r->inRowBytes;
        const auto *in = static_cast<const uint8_t *>(r->inData);
        got.assign(in, in + size_t(rowBytes) * 2);
        r->inRect = Rect{};
    });
    EXPECT_TRUE(report.Clean());
    ASSERT_EQ(rowBytes, 9);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            for (int32_t p = 0; p < 3; ++p)
                EXPECT_EQ(got[size_t(y * rowBytes + x * 3 + p)], original.At(p, x * 2, y * 2))
                    << "pixel " << x << "," << y << " plane " << p;
    EXPECT_EQ(host.CountEvents(EventKind::Advance, "in (0,0,2,3) out (0,0,0,0) mask (0,0,0,0) planes 0..2 at rate 2"),
              1u);
}

TEST_F(HostProfileTest, SixteenBitSamplesAreSampledAtTheRateToo)
{
    host.behaviour.profile = HostProfile::Plain;
    host.behaviour.ignoreEnabling = true;  // the module's mode flags leave out 48-bit RGB
    Document d = MakeDocument(7, 7, 3, 16, plugInModeRGB48);
    for (int32_t p = 0; p < 3; ++p)
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 7; ++x)
                d.At(p, x, y) = uint16_t(p * 10000 + y * 100 + x);
    const Document original = d;
    std::vector<uint16_t> got;
    int32_t rowBytes = 0;
    const RunReport report = RunStart(d, [&](FilterRecord *r, int16_t *) {
        r->inputRate = 3 << 16;
        // The reduced image is 3 x 3; its last row and column are the
        // document's seventh.
        r->inRect = Rect{1, 1, 3, 3};
        r->inLoPlane = 1;
        r->inHiPlane = 2;
        r->outRect = Rect{};
        ASSERT_EQ(r->advanceState(), noErr);
        ASSERT_NE(r->inData, nullptr);
        rowBytes = r->inRowBytes;
        const auto *in = static_cast<const uint16_t *>(r->inData);
        got.assign(in, in + size_t(rowBytes) / 2 * 2);
        r->inRect = Rect{};
    });
    ASSERT_TRUE(report.notEnabled.empty()) << report.notEnabled;
    ASSERT_EQ(rowBytes, 2 * 2 * 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x)
            for (int32_t p = 0; p < 2; ++p)
                EXPECT_EQ(got[size_t(y * rowBytes / 2 + x * 2 + p)], original.At(1 + p, (1 + x) * 3, (1 + y) * 3))
                    << "pixel " << x << "," << y << " plane " << p;
}

TEST_F(HostProfileTest, APlainHostIgnoresTheRatesFractionAndTheFullHostTheRate)
{
    Document d = Pattern(6, 4);
    const Document original = d;
    auto firstPixels = [&](Fixed rate, Rect inRect) {
        std::vector<uint8_t> got;
        RunStart(d, [&](FilterRecord *r, int16_t *) {
            r->inputRate = rate;
            r->inRect = inRect;
            r->inLoPlane = r->inHiPlane = 0;
            r->outRect = Rect{};
            ASSERT_EQ(r->advanceState(), noErr);
            ASSERT_NE(r->inData, nullptr);
            const auto *in = static_cast<const uint8_t *>(r->inData);
            got.assign(in, in + (inRect.right - inRect.left));
            r->inRect = Rect{};
        });
        return got;
    };
    // 3.5 samples every third pixel.
    host.behaviour.profile = HostProfile::Plain;
    const std::vector<uint8_t> plain = firstPixels((3 << 16) | 0x8000, Rect{0, 0, 1, 2});
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0], original.At(0, 0, 0));
    EXPECT_EQ(plain[1], original.At(0, 3, 0));
    // The full host delivers the document's own pixels, whatever the rate.
    host.behaviour.profile = HostProfile::Full;
    const std::vector<uint8_t> full = firstPixels(2 << 16, Rect{0, 0, 1, 3});
    ASSERT_EQ(full.size(), 3u);
    for (int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(full[size_t(x)], original.At(0, x, 0));
}

TEST_F(HostProfileTest, AdvanceStateInAPlainHostAnswersZeroWithNoBuffersWhereTheFullHostFails)
{
    Document d = Pattern(4, 4);
    struct Answer {
        OSErr failed = 1, outside = 1;
        bool hadData = false, failedHadData = true, outsideHadData = true;
    };
    auto answers = [&]() {
        Answer a;
        RunStart(d, [&](FilterRecord *r, int16_t *) {
            r->inRect = Rect{0, 0, 2, 2};
            r->inLoPlane = 0;
            r->inHiPlane = 2;
            r->outRect = Rect{};
            ASSERT_EQ(r->advanceState(), noErr);
            a.hadData = r->inData != nullptr;
            a.failed = r->advanceState();  // the host fails this one as asked
            a.failedHadData = r->inData != nullptr;
            ASSERT_EQ(r->advanceState(), noErr);
            r->inRect = Rect{0, 0, 9, 9};  // beyond the document
            a.outside = r->advanceState();
            a.outsideHadData = r->inData != nullptr;
            r->inRect = Rect{};
        });
        return a;
    };
    host.behaviour.failAdvanceOn = 2;
    host.behaviour.advanceError = memFullErr;
    const Answer full = answers();
    EXPECT_TRUE(full.hadData);
    EXPECT_EQ(full.failed, memFullErr);
    EXPECT_EQ(full.outside, paramErr);

    host.behaviour.profile = HostProfile::Plain;
    host.events.clear();
    const Answer plain = answers();
    EXPECT_TRUE(plain.hadData);
    EXPECT_EQ(plain.failed, noErr);
    EXPECT_FALSE(plain.failedHadData);
    EXPECT_EQ(plain.outside, noErr);
    EXPECT_FALSE(plain.outsideHadData);
    EXPECT_EQ(host.CountEvents(EventKind::Advance, "failed: answered 0 with no buffers"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Advance, "outside the document: answered 0 with no buffers"), 1u);
}

TEST_F(HostProfileTest, AHostThatKeepsTheLastOutputOnlyDiscardsTheEarlierOnes)
{
    // Two rows written through two advanceState calls.
    auto twoRows = [&](FilterRecord *r, int16_t *) {
        r->outLoPlane = 0;
        r->outHiPlane = 2;
        for (int16_t row = 0; row < 2; ++row) {
            r->outRect = Rect{row, 0, int16_t(row + 1), 4};
            ASSERT_EQ(r->advanceState(), noErr);
            ASSERT_NE(r->outData, nullptr);
            std::memset(r->outData, row == 0 ? 200 : 100, 12);
        }
        r->outRect = Rect{};
    };
    Document kept = Pattern(4, 2);
    const Document original = kept;
    EXPECT_TRUE(RunStart(kept, twoRows).Clean());
    for (int32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(kept.At(0, x, 0), 200);
        EXPECT_EQ(kept.At(0, x, 1), 100);
    }

    host.behaviour.lastOutputOnly = true;
    host.events.clear();
    Document last = Pattern(4, 2);
    const RunReport report = RunStart(last, twoRows);
    EXPECT_TRUE(report.Clean());
    EXPECT_TRUE(report.finished);
    for (int32_t p = 0; p < 3; ++p)
        for (int32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(last.At(p, x, 0), original.At(p, x, 0)) << "the first row's output is discarded";
            EXPECT_EQ(last.At(p, x, 1), 100);
        }
    EXPECT_EQ(host.CountEvents(EventKind::Advance, "output (0,0,1,4) discarded"), 1u);
}

TEST_F(HostProfileTest, APlainHostDrawsFromThePixelMapsOriginWhateverTheSourceRectangleSays)
{
    // A 4 x 4 map whose pixel (x, y) is (x, y, 9).
    std::vector<uint8_t> pixels(4 * 4 * 3);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            pixels[size_t((y * 4 + x) * 3)] = uint8_t(x);
            pixels[size_t((y * 4 + x) * 3 + 1)] = uint8_t(y);
            pixels[size_t((y * 4 + x) * 3 + 2)] = 9;
        }
    auto drawn = [&]() {
        Document d = Pattern(4, 4);
        RunStart(d, [&](FilterRecord *r, int16_t *) {
            PSPixelMap map = {};
            map.version = 1;
            map.bounds = VRect{0, 0, 4, 4};
            map.imageMode = plugInModeRGBColor;
            map.rowBytes = 12;
            map.colBytes = 3;
            map.planeBytes = 1;
            map.baseAddr = pixels.data();
            const VRect source = {2, 1, 4, 3};  // rows 2..3, columns 1..2
            EXPECT_EQ(r->displayPixels(&map, &source, 0, 0, nullptr), noErr);
        });
        return host.drawing.lastDisplay.image;
    };
    const int before = host.drawing.displayCount;
    const DisplayedImage full = drawn();
    ASSERT_EQ(full.width, 2);
    ASSERT_EQ(full.height, 2);
    EXPECT_EQ(full.rgb[0], 1);
    EXPECT_EQ(full.rgb[1], 2);

    host.behaviour.profile = HostProfile::Plain;
    const DisplayedImage plain = drawn();
    ASSERT_EQ(plain.width, 2);
    ASSERT_EQ(plain.height, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) {
            EXPECT_EQ(plain.rgb[size_t((y * 2 + x) * 3)], x);
            EXPECT_EQ(plain.rgb[size_t((y * 2 + x) * 3 + 1)], y);
        }
    EXPECT_EQ(host.drawing.displayCount, before + 2);
}

TEST_F(HostProfileTest, AbortNeverAnswersTrueInAPlainHost)
{
    host.behaviour.abortAfter = 1;
    Document d = Pattern(4, 4);
    Boolean answer = 0;
    RunStart(d, [&](FilterRecord *r, int16_t *) { answer = r->abortProc(); });
    EXPECT_NE(answer, 0);
    host.behaviour.profile = HostProfile::Plain;
    RunStart(d, [&](FilterRecord *r, int16_t *) { answer = r->abortProc(); });
    EXPECT_EQ(answer, 0);
}

TEST_F(HostProfileTest, SwitchesForOtherHostsApplyOverAnyProfile)
{
    for (HostProfile profile : {HostProfile::Full, HostProfile::Plain}) {
        host.behaviour = HostBehaviour();
        host.behaviour.profile = profile;
        host.behaviour.zeroDepth = true;
        host.behaviour.noPlatformWindow = true;
        host.behaviour.tileWidth = -64;
        host.behaviour.tileHeight = 0;
        Document d = Pattern(4, 4);
        const FilterRecord r = RecordAtStart(d);
        EXPECT_EQ(r.depth, 0) << HostProfileName(profile);
        EXPECT_EQ(r.platformData, nullptr) << HostProfileName(profile);
        EXPECT_EQ(r.inTileWidth, -64) << HostProfileName(profile);
        EXPECT_EQ(r.outTileWidth, -64) << HostProfileName(profile);
        EXPECT_EQ(r.outTileHeight, 0) << HostProfileName(profile);

        host.behaviour.noFinish = true;
        host.events.clear();
        const RunReport report = RunStart(d, [](FilterRecord *, int16_t *) {});
        EXPECT_FALSE(report.finished) << HostProfileName(profile);
        EXPECT_EQ(report.result, 0);
        EXPECT_EQ(host.CountEvents(EventKind::Selector, "finish"), 0u) << HostProfileName(profile);
        EXPECT_EQ(host.CountEvents(EventKind::Selector, "start"), 1u) << HostProfileName(profile);
    }
}

TEST(HostCommandLine, ChoosesAHostProfileAndRefusesAnUnknownOne)
{
    const std::string command = Quote(BesideTests("filterhost.exe")) + " run " + Quote(BesideTests("Scripted.8bf")) +
                                " " + Quote(BesideTests("cliff-backlit-500x420.png")) + " --ok --host ";
    const ProcessResult plain = RunProcess(command + "plain");
    EXPECT_EQ(plain.exitCode, 0u) << plain.output;
    EXPECT_NE(plain.output.find("Host profile plain"), std::string::npos) << plain.output;
    EXPECT_NE(plain.output.find("finish     -> 0"), std::string::npos) << plain.output;

    const ProcessResult nonsense = RunProcess(command + "nonsense");
    EXPECT_EQ(nonsense.exitCode, 2u) << nonsense.output;
    EXPECT_NE(nonsense.output.find("unknown host profile \"nonsense\""), std::string::npos) << nonsense.output;
    EXPECT_NE(nonsense.output.find("plain-no-memory"), std::string::npos) << nonsense.output;
    EXPECT_EQ(std::count(nonsense.output.begin(), nonsense.output.end(), '\n'), 1) << nonsense.output;
    EXPECT_EQ(nonsense.output.find("Document"), std::string::npos) << nonsense.output;
}

// A layer with transparency in the plain profiles, as Paint.NET's loader
// hands one: four planes, case 4, the layer fields set, and the column
// bytes of the document, then of each request.
TEST_F(HostProfileTest, APlainHostHandsALayerWithTransparencyAsFourPlanes)
{
    host.behaviour.profile = HostProfile::Plain;
    Document d = Pattern(6, 5);
    d.planes.push_back(d.planes[0]);
    d.hasTransparency = true;
    FilterRecord atStart = {}, afterFetch = {};
    RunStart(d, [&](FilterRecord *r, int16_t *) {
        atStart = *r;
        r->inRect = r->outRect = r->filterRect;
        r->inLoPlane = r->outLoPlane = 0;
        r->inHiPlane = r->outHiPlane = 2;
        ASSERT_EQ(r->advanceState(), noErr);
        afterFetch = *r;
        r->inRect = r->outRect = Rect{};
    });
    EXPECT_EQ(atStart.planes, 4);
    EXPECT_EQ(atStart.filterCase, 4);
    EXPECT_EQ(atStart.inLayerPlanes, 3);
    EXPECT_EQ(atStart.inTransparencyMask, 1);
    EXPECT_EQ(atStart.outLayerPlanes, 3);
    EXPECT_EQ(atStart.outTransparencyMask, 1);
    EXPECT_EQ(atStart.absLayerPlanes, 3);
    EXPECT_EQ(atStart.inColumnBytes, 4);
    EXPECT_EQ(afterFetch.inColumnBytes, 3);
    EXPECT_EQ(afterFetch.outColumnBytes, 3);
    EXPECT_EQ(afterFetch.inRowBytes, 6 * 3);
}

// PhotoDemon's engine: every image as four planes, the layer fields but
// not the absolute ones, no column bytes, a filter rectangle one pixel
// short, no refetch for the same rectangles, and one plane served from the
// pixel's first sample.
TEST_F(HostProfileTest, PhotoDemonsEngineHandsEveryImageAsFourPlanesWithItsFaults)
{
    host.behaviour.profile = HostProfile::PhotoDemon;
    Document d = Pattern(6, 5);
    const Document original = d;
    FilterRecord atStart = {};
    std::vector<uint8_t> fourPlanes, samePlanesAgain, planeThree;
    void *firstBuffer = nullptr, *secondBuffer = nullptr;
    const RunReport report = RunStart(d, [&](FilterRecord *r, int16_t *) {
        atStart = *r;
        r->inRect = Rect{0, 0, 1, 2};
        r->outRect = Rect{};
        r->inLoPlane = 0;
        r->inHiPlane = 3;
        ASSERT_EQ(r->advanceState(), noErr);
        firstBuffer = r->inData;
        fourPlanes.assign(static_cast<uint8_t *>(r->inData), static_cast<uint8_t *>(r->inData) + 8);
        r->inHiPlane = 2;
        ASSERT_EQ(r->advanceState(), noErr);
        secondBuffer = r->inData;
        samePlanesAgain.assign(static_cast<uint8_t *>(r->inData), static_cast<uint8_t *>(r->inData) + 8);
        r->inRect = Rect{};
        ASSERT_EQ(r->advanceState(), noErr);
        r->inRect = Rect{0, 0, 1, 2};
        r->inLoPlane = r->inHiPlane = 3;
        ASSERT_EQ(r->advanceState(), noErr);
        planeThree.assign(static_cast<uint8_t *>(r->inData), static_cast<uint8_t *>(r->inData) + 2);
        r->inRect = Rect{};
    });
    EXPECT_TRUE(report.Clean()) << Joined(report.failures);
    EXPECT_EQ(std::memcmp(&atStart.hostSig, "spHO", 4), 0);
    EXPECT_EQ(atStart.sSPBasic, nullptr);
    EXPECT_EQ(atStart.planes, 4);
    EXPECT_EQ(atStart.filterCase, 4);
    EXPECT_EQ(atStart.inLayerPlanes, 3);
    EXPECT_EQ(atStart.inTransparencyMask, 1);
    EXPECT_EQ(atStart.absLayerPlanes, 0);
    EXPECT_EQ(atStart.inColumnBytes, 0);
    EXPECT_EQ(atStart.filterRect.bottom, 4);
    EXPECT_EQ(atStart.filterRect.right, 5);
    // R, G, B, A of two pixels, the same again for planes 0..2, and plane 3
    // read from the pixels' red.
    const std::vector<uint8_t> rgba = {uint8_t(original.At(0, 0, 0)), uint8_t(original.At(1, 0, 0)),
                                       uint8_t(original.At(2, 0, 0)), 255,
                                       uint8_t(original.At(0, 1, 0)), uint8_t(original.At(1, 1, 0)),
                                       uint8_t(original.At(2, 1, 0)), 255};
    EXPECT_EQ(fourPlanes, rgba);
    EXPECT_EQ(secondBuffer, firstBuffer);
    EXPECT_EQ(samePlanesAgain, rgba);
    EXPECT_EQ(planeThree, (std::vector<uint8_t>{uint8_t(original.At(0, 0, 0)), uint8_t(original.At(0, 1, 0))}));
    // The opaque plane was the run's alone.
    EXPECT_EQ(d.PlaneCount(), 3);
    EXPECT_FALSE(d.hasTransparency);
}

// GIMP's loader: every advanceState stores the previous output and fetches
// the unfiltered pixels again; after start it fetches and continues while a
// rectangle is set, then stores once more; only the last stored output is
// kept, and finish is not called.
TEST_F(HostProfileTest, GimpsLoaderKeepsOnlyTheOutputItStoredLast)
{
    host.behaviour.profile = HostProfile::Gimp;
    // The whole image filtered in start; continue empties the rectangles.
    auto filterAll = [&](Document &d, bool emptyAtTheEnd) {
        gScript = [=](int16_t selector, FilterRecord *r, int16_t *) {
            if (selector == filterSelectorContinue)
                r->inRect = r->outRect = Rect{};
            if (selector != filterSelectorStart)
                return;
            r->inRect = r->outRect = r->filterRect;
            r->inLoPlane = r->outLoPlane = 0;
            r->inHiPlane = r->outHiPlane = 2;
            ASSERT_EQ(r->advanceState(), noErr);
            ASSERT_NE(r->outData, nullptr);
            std::memset(r->outData, 77, size_t(r->outRowBytes) * 4);
            if (emptyAtTheEnd)
                r->inRect = r->outRect = Rect{};
        };
        return host.Run(d);
    };
    Document left = Pattern(5, 4);
    const Document original = left;
    RunReport report = filterAll(left, false);
    EXPECT_TRUE(report.Clean()) << Joined(report.failures);
    EXPECT_TRUE(report.completed);
    EXPECT_FALSE(report.finished);
    EXPECT_TRUE(left.planes == original.planes) << "the unfiltered copy was stored over the result";
    EXPECT_EQ(host.CountEvents(EventKind::Selector, "continue"), 1u);

    host.events.clear();
    Document emptied = Pattern(5, 4);
    report = filterAll(emptied, true);
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(host.CountEvents(EventKind::Selector, "continue"), 0u);
    for (int32_t p = 0; p < 3; ++p)
        EXPECT_EQ(emptied.At(p, 4, 3), 77);
}
