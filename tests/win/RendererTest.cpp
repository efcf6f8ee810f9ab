// The renderer in the emulated host: its passes around the host's ports and
// filters, the composite read, and what each host failure leaves behind.
#include <cstring>
#include <memory>

#include "TestHost.h"
#include "engine/ChannelFilters.h"
#include "plugin/FilterContext.h"
#include "tests/common/ToneFormula.h"
#include "RenderExpectation.h"

namespace {

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        document = MakeDocument(64, 48, 3, 8, plugInModeRGBColor);
        FillTestPattern(&document, 4);
        Bind();
    }

    void Bind()
    {
        host.Attach(document);
        session.reset();
        session = std::make_unique<FilterHost::Session>(&host);
        context.filterRecord = &host.Record();
        context.result = &result;
        context.settings = FilterSettings{0.5f, 2.0f, 200.0f};
        SPBasicSuite *basic = host.Record().sSPBasic;
        const void *suite = nullptr;
        ASSERT_EQ(basic->AcquireSuite(kPSChannelPortsSuite, 3, &suite), 0);
        context.channelPorts = static_cast<PSChannelPortsSuite3 *>(const_cast<void *>(suite));
        context.ChooseServices();
    }

    void TearDown() override
    {
        // The renderer never disposes its ports; its owner does.
        if (context.portA != nullptr)
            context.channelPorts->Dispose(&context.portA);
        if (context.portB != nullptr)
            context.channelPorts->Dispose(&context.portB);
        host.Record().sSPBasic->ReleaseSuite(kPSChannelPortsSuite, 3);
        EXPECT_TRUE(host.CheckLeaks().empty());
    }

    // Renders `p` with packed rows (or the given row steps in the record).
    std::vector<uint16_t> Render(const Pixels &p, std::vector<uint8_t> *mask, int32_t inRowBytes = 0,
                                 int32_t outRowBytes = 0, uint8_t fill = 0x5A)
    {
        host.Record().inRowBytes = inRowBytes;
        host.Record().outRowBytes = outRowBytes;
        const std::vector<uint8_t> in = p.Bytes(inRowBytes);
        std::vector<uint8_t> out(in.size() + size_t(outRowBytes) * p.height + 64, fill);
        mask->assign(size_t(p.width) * p.height * 3, 0xC3);
        EXPECT_EQ(context.RenderBlock(in.data(), out.data(), mask->data(), p.width, p.height, 3, p.sixteen), 0);
        return Pixels::Read(out, p.width, p.height, p.sixteen, outRowBytes);
    }

    Document document;
    FilterHost host;
    std::unique_ptr<FilterHost::Session> session;
    FilterContext context;
    int16_t result = 0;
};

} // namespace

TEST_F(RendererTest, EightAndSixteenBitBlocksAreTheFormulaOverTheHostsSmoothedMask)
{
    for (bool sixteen : {false, true}) {
        const Pixels p(40, 30, sixteen, sixteen ? 2 : 1);
        std::vector<uint8_t> mask;
        const std::vector<uint16_t> out = Render(p, &mask);
        const Expected e = Compose(p, context.settings, kBlurAndMedian);
        EXPECT_EQ(out, e.result) << (sixteen ? "16-bit" : "8-bit");
        EXPECT_EQ(mask, e.mask) << (sixteen ? "16-bit" : "8-bit");
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "apply \"" kGaussianBlurFilter "\" (0,0,30,40)"), 2u);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "apply \"" kMedianFilter "\" (0,0,30,40)"), 2u);
}

TEST_F(RendererTest, RowStepsFromTheRecordGiveTheSameResultAsPackedRows)
{
    for (bool sixteen : {false, true}) {
        const Pixels p(17, 9, sixteen, 3);
        std::vector<uint8_t> packedMask, paddedMask;
        const std::vector<uint16_t> packed = Render(p, &packedMask);
        const int32_t step = 17 * 3 * (sixteen ? 2 : 1) + 10;
        EXPECT_EQ(Render(p, &paddedMask, step, step + 4), packed);
        EXPECT_EQ(paddedMask, packedMask);
    }
}

TEST_F(RendererTest, OneByOneAndOneByNBlocks)
{
    for (auto size : {std::pair<int32_t, int32_t>{1, 1}, {1, 13}, {13, 1}}) {
        const Pixels p(size.first, size.second, false, 5);
        std::vector<uint8_t> mask;
        // Each size in a fresh context: the first call sizes the ports.
        context.channelPorts->Dispose(&context.portA);
        context.channelPorts->Dispose(&context.portB);
        EXPECT_EQ(Render(p, &mask), Compose(p, context.settings, kBlurAndMedian).result);
    }
}

TEST_F(RendererTest, TheSelectionSkipsPixelsAndWeighsTheLift)
{
    const Pixels p(12, 6, false, 8);
    std::vector<uint8_t> selection(12 * 6);
    for (size_t i = 0; i < selection.size(); ++i)
        selection[i] = uint8_t(i % 4 == 0 ? 0 : (i * 37) % 256);
    // Selection rows padded to 16 bytes in the host's mask buffer.
    std::vector<uint8_t> hostMask(16 * 6, 0);
    for (int32_t y = 0; y < 6; ++y)
        std::memcpy(&hostMask[size_t(y) * 16], &selection[size_t(y) * 12], 12);
    host.Record().maskData = hostMask.data();
    host.Record().maskRowBytes = 16;

    std::vector<uint8_t> mask;
    const std::vector<uint16_t> out = Render(p, &mask, 0, 0, 0x5A);
    const std::vector<uint16_t> untouched(out.size(), 0x5A);
    // Skipped pixels keep the mask buffer's earlier bytes (0xC3) in pass 1.
    Pixels withSkipped = p;
    std::vector<uint8_t> firstMask(12 * 6);
    const FilterSettings s = context.settings;
    const VRect r = {0, 0, 6, 12};
    Raster a(r, 8), b(r, 8);
    for (size_t i = 0; i < firstMask.size(); ++i)
        a.samples[i] = selection[i] == 0 ? 0xC3
                                         : formula::Mask(uint32_t(p.samples[i * 3]) + p.samples[i * 3 + 1] + p.samples[i * 3 + 2], s.bias, false);
    filters::GaussianBlur(a.View(), b.View(), r, 65541, -1);
    filters::MedianFilter(b.View(), a.View(), r, 7, -1);
    for (size_t i = 0; i < selection.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            const uint16_t expected = selection[i] == 0 ? 0x5A
                                                        : formula::Sample(p.samples[i * 3 + c], uint8_t(a.samples[i]), &selection[i], s.gamma, s.contrast, false);
            ASSERT_EQ(out[i * 3 + c], expected) << "pixel " << i;
        }
}

TEST_F(RendererTest, PortsAreMadeOnceReusedAndNeverDisposed)
{
    const Pixels big(30, 20, false, 1), small(10, 5, false, 2);
    std::vector<uint8_t> mask;
    Render(big, &mask);
    PIChannelPort a = context.portA, b = context.portB;
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Render(small, &mask), Compose(small, context.settings, kBlurAndMedian).result);
    EXPECT_EQ(context.portA, a);
    EXPECT_EQ(context.portB, b);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "new"), 2u);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "dispose"), 0u);
}

TEST_F(RendererTest, ABlockLargerThanItsPortsGetsNewPorts)
{
    const Pixels small(10, 5, false, 2), big(30, 20, false, 1);
    std::vector<uint8_t> mask;
    Render(small, &mask);
    EXPECT_EQ(Render(big, &mask), Compose(big, context.settings, kBlurAndMedian).result);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "new"), 4u);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "dispose"), 2u);
}

// ---- what each host failure leaves behind ------------------------------------------

namespace {

struct Fault {
    const char *name;
    const char *call;
    int onCall;
};

void PrintTo(const Fault &f, std::ostream *os)
{
    *os << f.name;
}

class RendererFault : public RendererTest, public ::testing::WithParamInterface<Fault> {};

} // namespace

TEST_P(RendererFault, StopsWithoutWritingTheDestination)
{
    const Fault &fault = GetParam();
    host.behaviour.portFaults[fault.call] = fault.onCall;
    const Pixels p(16, 8, false, 6);
    result = 0x55;
    std::vector<uint8_t> mask;
    const std::vector<uint16_t> out = Render(p, &mask, 0, 0, 0x5A);
    EXPECT_EQ(result, 0x55);
    EXPECT_EQ(out, std::vector<uint16_t>(out.size(), 0x5A));
    const Expected unsmoothed = Compose(p, context.settings, kNone);
    const Expected smoothed = Compose(p, context.settings, kBlurAndMedian);
    for (size_t i = 0; i < mask.size(); ++i) {
        // Reads that succeeded before the failing one replaced their bytes.
        const bool replaced = std::string(fault.call) == "ReadPixelsFromLevel" && int(i % 3) < fault.onCall - 1;
        ASSERT_EQ(mask[i], replaced ? smoothed.mask[i] : unsmoothed.mask[i]) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(HostFailures, RendererFault,
                         ::testing::Values(Fault{"FirstPort", "New", 1}, Fault{"SecondPort", "New", 2},
                                           Fault{"MaskWrite", "WritePixelsToBaseLevel", 1},
                                           Fault{"FirstRead", "ReadPixelsFromLevel", 1},
                                           Fault{"SecondRead", "ReadPixelsFromLevel", 2},
                                           Fault{"ThirdRead", "ReadPixelsFromLevel", 3}),
                         [](const ::testing::TestParamInfo<Fault> &info) { return std::string(info.param.name); });

TEST_F(RendererTest, AFailedFilterGoesUnnoticedAndTheBlendUsesWhatThePortHolds)
{
    const Pixels p(16, 8, false, 6);
    std::vector<uint8_t> mask;
    host.behaviour.portFaults["ApplyOperation:" kGaussianBlurFilter] = 0;
    // The median then reads portB, which holds nothing yet (zeros).
    Expected e = Compose(Pixels(16, 8, false, 6), context.settings, kNone);
    {
        const std::vector<uint16_t> out = Render(p, &mask);
        Pixels zero = p;
        std::fill(zero.samples.begin(), zero.samples.end(), 0);
        std::vector<uint16_t> expected;
        for (size_t i = 0; i < p.samples.size(); ++i)
            expected.push_back(formula::Sample(p.samples[i], 0, nullptr, context.settings.gamma, context.settings.contrast, false));
        EXPECT_EQ(out, expected);
        EXPECT_EQ(result, 0);
    }
    host.behaviour.portFaults.clear();
    host.behaviour.portFaults["ApplyOperation:" kMedianFilter] = 0;
    // Without the median, portA keeps the unsmoothed mask written to it.
    EXPECT_EQ(Render(p, &mask), e.result);
    EXPECT_EQ(mask, e.mask);
    EXPECT_EQ(result, 0);
}

// ---- the composite read ------------------------------------------------------------

TEST_F(RendererTest, ReadCompositeCopiesTheDocumentInterleaved)
{
    const Rect r = {0, 0, 48, 64};
    std::vector<uint8_t> buffer(64 * 48 * 3, 0);
    context.ReadComposite(r, r, buffer.data());
    EXPECT_EQ(result, 0);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(buffer[(size_t(y) * 64 + x) * 3 + c], document.At(c, x, y)) << x << "," << y;
}

TEST_F(RendererTest, ReadCompositeScalesAndConvertsSixteenBitDocuments)
{
    document = MakeDocument(64, 48, 3, 16, plugInModeRGB48);
    FillTestPattern(&document, 9);
    host.Record().sSPBasic->ReleaseSuite(kPSChannelPortsSuite, 3);
    Bind();
    std::vector<uint8_t> buffer(32 * 24 * 3, 0);
    context.ReadComposite(Rect{0, 0, 48, 64}, Rect{0, 0, 24, 32}, buffer.data());
    EXPECT_EQ(result, 0);
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint32_t sum = document.At(c, 2 * x, 2 * y) + document.At(c, 2 * x + 1, 2 * y) +
                                     document.At(c, 2 * x, 2 * y + 1) + document.At(c, 2 * x + 1, 2 * y + 1);
                ASSERT_EQ(buffer[(size_t(y) * 32 + x) * 3 + c], Convert16To8((sum + 2) / 4)) << x << "," << y;
            }
}

TEST_F(RendererTest, ReadCompositeWithoutChannelsReadsNothingAndSaysNothing)
{
    std::vector<uint8_t> buffer(12, 0x77);
    ReadImageDocumentDesc empty = *host.Record().documentInfo;
    host.Record().documentInfo = nullptr;
    context.ReadComposite(Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2}, buffer.data());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(12, 0x77));

    host.Record().documentInfo = &empty;
    empty.targetCompositeChannels = nullptr;
    context.ReadComposite(Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2}, buffer.data());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(12, 0x77));
}

TEST_F(RendererTest, ReadCompositeReportsAFailedQueryAndSkipsAnUnreadablePort)
{
    std::vector<uint8_t> buffer(12, 0x77);
    host.behaviour.canReadAnswer = false;
    context.ReadComposite(Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2}, buffer.data());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(12, 0x77));

    host.behaviour.portFaults["CanRead"] = 0;
    context.ReadComposite(Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2}, buffer.data());
    EXPECT_EQ(result, -30900);
    EXPECT_EQ(buffer, std::vector<uint8_t>(12, 0x77));
}

TEST_F(RendererTest, AFailedChannelReadIsReportedAndTheOthersAreStillRead)
{
    std::vector<uint8_t> buffer(2 * 2 * 3, 0x77);
    host.behaviour.portFaults["ReadScaledPixels"] = 2;
    context.ReadComposite(Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2}, buffer.data());
    EXPECT_EQ(result, -1);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(buffer[size_t(i) * 3], document.At(0, i % 2, i / 2));
        EXPECT_EQ(buffer[size_t(i) * 3 + 1], 0x77);
        EXPECT_EQ(buffer[size_t(i) * 3 + 2], document.At(2, i % 2, i / 2));
    }
}

TEST_F(RendererTest, RenderPreviewRendersTheOriginalBufferIntoTheResult)
{
    const int32_t w = 20, h = 12;
    std::vector<uint8_t> original(w * h * 3), maskBuffer(w * h * 3), resultBuffer(w * h * 3, 0);
    const Pixels p(w, h, false, 12);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = uint8_t(p.samples[i]);
    context.previewRect = Rect{0, 0, int16_t(h), int16_t(w)};
    context.previewOriginal = original.data();
    context.previewMask = maskBuffer.data();
    context.previewResult = resultBuffer.data();
    EXPECT_EQ(context.RenderPreview(), 0);
    const Expected e = Compose(p, context.settings, kBlurAndMedian);
    EXPECT_EQ(Pixels::Read(resultBuffer, w, h, false, 0), e.result);
    EXPECT_EQ(maskBuffer, e.mask);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "scaled read Red (0,0,12,20) -> (0,0,12,20)"), 1u);
}
