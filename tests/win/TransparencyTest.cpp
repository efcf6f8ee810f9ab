// Layers with transparency, as the hosts other than the original hand them:
// four planes, the fourth the layer's transparency. The colour comes out as
// the same image without transparency would, the transparency byte for byte
// as it went in, and the preview shows the layer over a checkerboard. The
// original host still filters its background layer only.
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "RenderExpectation.h"
#include "TestHost.h"
#include "host/windows/DialogDriver.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/session/HostProfile.h"
#include "host/files/ImageFile.h"
#include "resources/ResourceIds.h"
#include "ui/PreviewTransparency.h"

namespace dd = dialog_driver;

namespace {

const HostProfile kOtherHosts[] = {HostProfile::Plain, HostProfile::PlainHandles, HostProfile::PlainNoMemory,
                                   HostProfile::PhotoDemon, HostProfile::Gimp};

class TransparencyTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_TRUE(DeleteFilterKey());
        ASSERT_TRUE(StoreFilterFloat("Last bias", tone.bias));
        ASSERT_TRUE(StoreFilterFloat("Last gamma", tone.gamma));
        ASSERT_TRUE(StoreFilterFloat("Last contrast", tone.contrast));
    }
    void TearDown() override { DeleteFilterKey(); }

    void Use(HostProfile profile)
    {
        host.behaviour = HostBehaviour();
        host.behaviour.profile = profile;
        host.events.clear();
        host.windows.messageBoxes.clear();
    }

    // Colour with dark and bright parts; its transparency a gradient across
    // the left half, a fully transparent block (whose colour is the user's
    // all the same) at the top right, opaque elsewhere.
    static Document Layer(int32_t w, int32_t h, int32_t depth)
    {
        Document d = MakeDocument(w, h, 4, depth, depth == 16 ? plugInModeRGB48 : plugInModeRGBColor);
        FillTestPattern(&d, uint32_t(w * 7 + h));
        d.hasTransparency = true;
        const int32_t full = d.MaxSample();
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int32_t a = full;
                if (x < w / 2)
                    a = int32_t(int64_t(full) * x / std::max(1, w / 2 - 1));
                else if (y < h / 3 && x > w * 2 / 3)
                    a = 0;
                d.At(3, x, y) = uint16_t(a);
            }
        return d;
    }

    static Document ColourOf(const Document &layer)
    {
        Document d = layer;
        d.planes.resize(3);
        d.hasTransparency = false;
        return d;
    }

    // The colour as the profile's run must leave it: its filter rectangle
    // in its tiles, the rest as it was.
    Document Expected(const Document &colour, HostProfile profile) const
    {
        const ProfileServices services = ServicesOf(profile);
        const int32_t shorter = services.filterRectOneShort ? 1 : 0;
        const int32_t w = colour.width - shorter, h = colour.height - shorter;
        Document rect = MakeDocument(w, h, 3, colour.depth, colour.mode);
        for (int32_t p = 0; p < 3; ++p)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    rect.At(p, x, y) = colour.At(p, x, y);
        if (!colour.selection.empty()) {
            rect.selection.resize(size_t(w) * size_t(h));
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    rect.selection[size_t(y) * size_t(w) + size_t(x)] =
                        colour.selection[size_t(y) * size_t(colour.width) + size_t(x)];
        }
        const bool whole = services.lastStoredOutputOnly;
        const Document done = ExpectedDocument(rect, whole ? w : host.behaviour.tileWidth,
                                               whole ? h : host.behaviour.tileHeight, tone);
        Document out = colour;
        for (int32_t p = 0; p < 3; ++p)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    out.At(p, x, y) = done.At(p, x, y);
        return out;
    }

    static bool SameColour(const Document &a, const Document &b)
    {
        return a.PlaneCount() >= 3 && b.PlaneCount() >= 3 && a.planes[0] == b.planes[0] &&
               a.planes[1] == b.planes[1] && a.planes[2] == b.planes[2];
    }

    // Every request for output of the last run asked for red, green and
    // blue, and nothing reached outside the document.
    ::testing::AssertionResult ColourRequestsOnly() const
    {
        for (const HostEvent &e : host.events) {
            if (e.kind == EventKind::Failure)
                return ::testing::AssertionFailure() << e.text;
            if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0 &&
                e.text.find("out (0,0,0,0)") == std::string::npos && e.text.find("planes 0..2") == std::string::npos &&
                e.text.find("not fetched again") == std::string::npos)
                return ::testing::AssertionFailure() << e.text;
        }
        return ::testing::AssertionSuccess();
    }

    FilterSettings tone = {0.4f, 1.7f, 220.0f};
};

} // namespace

TEST_F(TransparencyTest, TheColourIsFilteredAndTheTransparencyKeptInEveryOtherHost)
{
    for (HostProfile profile : kOtherHosts) {
        for (int32_t depth : {8, 16}) {
            const std::string what = std::string(HostProfileName(profile)) + ", " + std::to_string(depth) + " bits";
            Use(profile);
            Document layer = Layer(301, 203, depth);
            const Document original = layer;
            const RunReport report = host.Run(layer);
            EXPECT_EQ(report.result, 0) << what;
            EXPECT_TRUE(report.completed) << what;
            EXPECT_TRUE(report.Clean()) << what << (report.leaks.empty() ? "" : report.leaks[0]);
            EXPECT_TRUE(host.windows.messageBoxes.empty()) << what;
            EXPECT_EQ(report.filterCase, 4) << what;
            EXPECT_TRUE(ColourRequestsOnly()) << what;
            // The start call ends the run: no continue is needed.
            EXPECT_EQ(host.CountEvents(EventKind::Selector, "continue"), 0u) << what;
            ASSERT_EQ(layer.PlaneCount(), 4) << what;
            EXPECT_TRUE(layer.planes[3] == original.planes[3]) << what << ": the transparency changed";
            EXPECT_TRUE(SameColour(layer, Expected(ColourOf(original), profile))) << what;

            // The same image without transparency: the same colour.
            Use(profile);
            Document colour = ColourOf(original);
            EXPECT_EQ(host.Run(colour).result, 0) << what;
            EXPECT_EQ(colour.PlaneCount(), 3) << what;
            EXPECT_TRUE(SameColour(layer, colour)) << what;
        }
    }
}

// Paint.NET's loader hands a layer with a selection as case 5: the colour
// is mixed with the selection as for any image, the transparency untouched.
TEST_F(TransparencyTest, ASelectionMixesTheColourAndLeavesTheTransparency)
{
    for (int32_t depth : {8, 16}) {
        Use(HostProfile::Plain);
        Document layer = Layer(260, 180, depth);
        layer.selection.assign(size_t(layer.width) * size_t(layer.height), 0);
        for (int32_t y = 0; y < layer.height; ++y)
            for (int32_t x = 0; x < layer.width; ++x) {
                const int32_t dx = x - 130, dy = y - 90;
                const int32_t d2 = dx * dx * 4 + dy * dy * 9;
                layer.selection[size_t(y) * size_t(layer.width) + size_t(x)] =
                    uint8_t(d2 < 40000 ? 255 : d2 < 60000 ? (60000 - d2) * 255 / 20000 : 0);
            }
        const Document original = layer;
        const RunReport report = host.Run(layer);
        EXPECT_EQ(report.result, 0) << depth;
        EXPECT_EQ(report.filterCase, 5) << depth;
        EXPECT_TRUE(ColourRequestsOnly()) << depth;
        EXPECT_TRUE(layer.planes[3] == original.planes[3]) << depth;
        Document colour = ColourOf(original);
        EXPECT_TRUE(SameColour(layer, Expected(colour, HostProfile::Plain))) << depth;
    }
}

// PhotoDemon's engine leaves the image's last row and column out of the
// filter rectangle: they stay as delivered, colour and transparency.
TEST_F(TransparencyTest, TheLastRowAndColumnOutsideAShortFilterRectangleStayAsTheyWere)
{
    Use(HostProfile::PhotoDemon);
    Document layer = Layer(97, 61, 8);
    const Document original = layer;
    ASSERT_EQ(host.Run(layer).result, 0);
    for (int32_t p = 0; p < 4; ++p) {
        for (int32_t x = 0; x < layer.width; ++x)
            EXPECT_EQ(layer.At(p, x, layer.height - 1), original.At(p, x, layer.height - 1)) << p << "," << x;
        for (int32_t y = 0; y < layer.height; ++y)
            EXPECT_EQ(layer.At(p, layer.width - 1, y), original.At(p, layer.width - 1, y)) << p << "," << y;
    }
    EXPECT_FALSE(SameColour(layer, original));
}

TEST_F(TransparencyTest, TheOriginalHostStillFiltersItsBackgroundLayerOnly)
{
    Use(HostProfile::Full);
    Document layer = Layer(120, 80, 8);
    const Document original = layer;
    const RunReport report = host.Run(layer);
    EXPECT_EQ(report.result, 1);
    ASSERT_EQ(host.windows.messageBoxes.size(), 1u);
    EXPECT_EQ(host.windows.messageBoxes[0].text, "Filter works on background layer only");
    EXPECT_TRUE(layer.planes == original.planes);
}

// Four planes that are not colour and transparency are refused elsewhere
// with what the host handed, never with the original host's words.
TEST_F(TransparencyTest, OtherPlanesAreRefusedWithWhatTheHostHanded)
{
    Use(HostProfile::Plain);
    Document d = Layer(40, 30, 8);
    d.hasTransparency = false;  // a fourth colour plane, not transparency
    const Document original = d;
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 1);
    ASSERT_EQ(host.windows.messageBoxes.size(), 1u);
    EXPECT_EQ(host.windows.messageBoxes[0].text,
              "Umbrolux filters RGB images with at most one transparency plane; the host handed 4 planes "
              "(4 colour, 0 transparency, 0 other).");
    EXPECT_TRUE(d.planes == original.planes);
}

// Each view of the preview as the host draws it: the original and the
// result over the checkerboard, the mask as it is, against the same views
// of the image without transparency composited here; at zoom 1 and zoomed
// in; in a host that reads a pixel as four bytes too.
TEST_F(TransparencyTest, ThePreviewShowsTheLayerOverACheckerboard)
{
    struct Views {
        std::vector<DisplayedImage> shown;  // original, mask, result at zoom 1, then at zoom 3
    };
    auto views = [&](Document &d) {
        Views v;
        host.windows.dialogHandler = [&](HWND dialog) {
            // The zoom is kept from the last dialog: back to 1 first.
            for (int i = 0; i < 7; ++i)
                dd::Click(dialog, IDC_ZOOM_OUT);
            for (int zoomed = 0; zoomed < 2; ++zoomed) {
                for (int view : {IDC_VIEW_ORIGINAL, IDC_VIEW_MASK, IDC_VIEW_RESULT}) {
                    dd::Click(dialog, view);
                    v.shown.push_back(host.drawing.lastDisplay.image);
                }
                dd::Click(dialog, IDC_ZOOM_IN);
                dd::Click(dialog, IDC_ZOOM_IN);
            }
            dd::Click(dialog, IDCANCEL);
        };
        host.Run(d);
        return v;
    };
    for (HostProfile profile : {HostProfile::Plain, HostProfile::PhotoDemon}) {
        Use(profile);
        Document plain = ColourOf(Layer(360, 250, 8));
        const Views opaque = views(plain);
        ASSERT_EQ(opaque.shown.size(), 6u);
        for (int alpha : {0, 100, 255}) {
            const std::string what = std::string(HostProfileName(profile)) + ", alpha " + std::to_string(alpha);
            Use(profile);
            Document layer = Layer(360, 250, 8);
            std::fill(layer.planes[3].begin(), layer.planes[3].end(), uint16_t(alpha));
            const Views seen = views(layer);
            EXPECT_TRUE(host.windows.messageBoxes.empty()) << what;
            ASSERT_EQ(seen.shown.size(), 6u) << what;
            for (size_t i = 0; i < 6; ++i) {
                const DisplayedImage &a = opaque.shown[i], &b = seen.shown[i];
                ASSERT_EQ(a.width, b.width) << what;
                ASSERT_EQ(a.height, b.height) << what;
                ASSERT_GT(a.width, 0) << what;
                const bool mask = i % 3 == 1;
                std::vector<uint8_t> expected = a.rgb;
                for (int32_t y = 0; y < a.height && !mask; ++y)
                    for (int32_t x = 0; x < a.width; ++x)
                        for (int c = 0; c < 3; ++c) {
                            uint8_t &e = expected[(size_t(y) * size_t(a.width) + size_t(x)) * 3 + size_t(c)];
                            e = OverShade(e, uint8_t(alpha), CheckerShade(x, y));
                        }
                EXPECT_TRUE(b.rgb == expected) << what << ", view " << i;
            }
        }
    }
}

// The bundled photograph with a transparency gradient, in each view as it
// appears on the screen, against the images committed when it was first
// right.
TEST_F(TransparencyTest, ThePreviewOnTheScreenOverTheCheckerboard)
{
    Use(HostProfile::Plain);
    Document photo;
    std::string error;
    ASSERT_TRUE(LoadImageFile(BesideTests("cliff-backlit-500x420.png"), &photo, &error)) << error;
    photo.planes.emplace_back(photo.planes[0].size());
    photo.hasTransparency = true;
    for (int32_t y = 0; y < photo.height; ++y)
        for (int32_t x = 0; x < photo.width; ++x)
            photo.At(3, x, y) = uint16_t(std::min(255, std::abs(x - photo.width / 2) * 255 / (photo.width / 3)));
    host.windows.dialogHandler = [&](HWND dialog) {
        for (int view : {IDC_VIEW_ORIGINAL, IDC_VIEW_MASK, IDC_VIEW_RESULT}) {
            dd::Click(dialog, view);
            const auto &shown = host.drawing.lastDisplay;
            // (A failure here goes on to the next view: the dialog must close.)
            Document cut;
            const bool onScreen = ClientAreaOnScreen(
                dialog, RECT{shown.column - 3, shown.row - 3, shown.column + shown.image.width + 3, shown.row + shown.image.height + 3},
                &cut);
            EXPECT_TRUE(onScreen);
            const char *name = view == IDC_VIEW_ORIGINAL ? "original" : view == IDC_VIEW_MASK ? "mask" : "result";
            const std::string file = std::string("preview-transparent-") + name + ".png";
            if (const char *update = std::getenv("UMBROLUX_WRITE_REFERENCES")) {
                EXPECT_TRUE(SaveImageFile(std::string(update) + "\\" + file, cut, &error)) << error;
                continue;
            }
            Document expected;
            if (!onScreen || !LoadImageFile(BesideTests("reference\\" + file), &expected, &error)) {
                ADD_FAILURE() << name << ": " << error;
                continue;
            }
            EXPECT_EQ(cut.width, expected.width) << name;
            EXPECT_EQ(cut.height, expected.height) << name;
            EXPECT_TRUE(cut.planes == expected.planes) << name;
        }
        dd::Click(dialog, IDCANCEL);
    };
    host.Run(photo);
}

// filterhost writes an image with transparency with it, PNG and TIFF; the
// full host refuses it, and the report names the hosts that filter it.
TEST(TransparentFiles, ComeOutWithTheirTransparencyAndTheFullHostNamesWhereTheyAreFiltered)
{
    ASSERT_TRUE(DeleteFilterKey());
    Document d = MakeDocument(90, 70, 4, 8, plugInModeRGBColor);
    FillTestPattern(&d, 5);
    d.hasTransparency = true;
    for (int32_t y = 0; y < d.height; ++y)
        for (int32_t x = 0; x < d.width; ++x)
            d.At(3, x, y) = uint16_t((x * 3 + y) % 256);
    const std::string in = TempPath("layer-in.png");
    std::string error;
    ASSERT_TRUE(SaveImageFile(in, d, &error)) << error;
    for (const char *ext : {".png", ".tif"}) {
        const std::string out = TempPath(std::string("layer-out") + ext);
        const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) +
                                           " " + Quote(in) + " " + Quote(out) + " --host plain --set gamma=2");
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        Document written;
        ASSERT_TRUE(LoadImageFile(out, &written, &error)) << error;
        ASSERT_EQ(written.PlaneCount(), 4) << ext;
        EXPECT_TRUE(written.hasTransparency) << ext;
        EXPECT_TRUE(written.planes[3] == d.planes[3]) << ext;
        EXPECT_FALSE(written.planes[0] == d.planes[0]) << ext;
        DeleteFileA(out.c_str());
    }
    const std::string out = TempPath("layer-full.png");
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                       Quote(in) + " " + Quote(out) + " --host full --set gamma=2");
    EXPECT_NE(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("Filter works on background layer only"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("--host plain, photodemon or gimp"), std::string::npos) << r.output;
    EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(in.c_str());
    DeleteFilterKey();
}
