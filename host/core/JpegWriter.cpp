#include "host/core/JpegWriter.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "engine/Raster.h"

namespace {

const size_t kBufferBytes = 1 << 16;

// libjpeg reports a fatal error through error_exit, which jumps back to
// Encode's setjmp; Encode keeps no C++ object of its own across a libjpeg
// call, so the jump skips no destructor.
struct Encoder {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_destination_mgr destination{};
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
    bool created = false;
    bool outOfMemory = false;
    bool sinkFailed = false;
    const JpegSink *sink = nullptr;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> row;

    ~Encoder()
    {
        if (created)
            jpeg_destroy_compress(&info);
    }
};

void OnFatal(j_common_ptr info)
{
    auto *e = reinterpret_cast<Encoder *>(info->client_data);
    (*info->err->format_message)(info, e->message);
    e->outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(e->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

void StartDestination(j_compress_ptr info)
{
    auto *e = reinterpret_cast<Encoder *>(info->client_data);
    info->dest->next_output_byte = e->buffer.data();
    info->dest->free_in_buffer = e->buffer.size();
}

// The sink's failure is remembered and the rest discarded: libjpeg's
// destination cannot stop the encoder, the caller does at the end.
void Hand(Encoder *e, size_t bytes)
{
    if (!e->sinkFailed && bytes != 0) {
        try {
            e->sinkFailed = !(*e->sink)(e->buffer.data(), bytes);
        } catch (...) {
            e->sinkFailed = true;
        }
    }
}

boolean EmptyDestination(j_compress_ptr info)
{
    auto *e = reinterpret_cast<Encoder *>(info->client_data);
    Hand(e, e->buffer.size());
    StartDestination(info);
    return TRUE;
}

void TermDestination(j_compress_ptr info)
{
    auto *e = reinterpret_cast<Encoder *>(info->client_data);
    Hand(e, e->buffer.size() - info->dest->free_in_buffer);
}

UINT16 Density(double v)
{
    return UINT16(std::min(65535.0, std::max(1.0, std::round(v))));
}

bool Encode(Encoder *e, const Document &d, const JpegWriteOptions &options)
{
    if (setjmp(e->jump) != 0)
        return false;
    jpeg_create_compress(&e->info);
    e->created = true;
    jpeg_compress_struct &info = e->info;
    info.dest = &e->destination;
    e->destination.init_destination = StartDestination;
    e->destination.empty_output_buffer = EmptyDestination;
    e->destination.term_destination = TermDestination;
    const bool grey = d.PlaneCount() == 1;
    info.image_width = JDIMENSION(d.width);
    info.image_height = JDIMENSION(d.height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::min(100, std::max(1, options.quality)), TRUE);
    info.optimize_coding = TRUE;
    if (!grey) {
        // At most 10 blocks in a unit: 4 x 2 luma blocks and two chroma.
        int across = std::min(4, std::max(1, options.chromaAcross));
        int down = std::min(4, std::max(1, options.chromaDown));
        while (across * down > 8)
            down > 1 ? --down : --across;
        info.comp_info[0].h_samp_factor = across;
        info.comp_info[0].v_samp_factor = down;
        for (int c = 1; c < 3; ++c)
            info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    }
    const Resolution r = InInchesOrCentimetres(options.resolution);
    switch (r.unit) {
    case Resolution::Unit::Inch:
    case Resolution::Unit::Centimetre:
        info.density_unit = r.unit == Resolution::Unit::Inch ? 1 : 2;
        info.X_density = Density(r.x);
        info.Y_density = Density(r.y);
        break;
    case Resolution::Unit::None:
        info.density_unit = 0;
        info.X_density = Density(r.x);
        info.Y_density = Density(r.y);
        break;
    default:
        break;
    }
    jpeg_start_compress(&info, TRUE);
    for (const JpegSegment &s : options.segments)
        jpeg_write_marker(&info, s.marker, s.data.data(), unsigned(s.data.size()));
    const int channels = info.input_components;
    uint8_t *row = e->row.data();
    JSAMPROW rows[1] = {row};
    while (info.next_scanline < info.image_height) {
        const int32_t y = int32_t(info.next_scanline);
        for (int c = 0; c < channels; ++c) {
            const uint16_t *from = d.planes[size_t(c)].data() + size_t(y) * size_t(d.width);
            uint8_t *to = row + c;
            if (d.depth == 16)
                for (int32_t x = 0; x < d.width; ++x, to += channels)
                    *to = Convert16To8(from[x]);
            else
                for (int32_t x = 0; x < d.width; ++x, to += channels)
                    *to = uint8_t(from[x]);
        }
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

} // namespace

bool WriteJpeg(const Document &document, const JpegWriteOptions &options, const JpegSink &sink,
               std::string *error)
{
    auto fail = [&](const std::string &why) {
        if (error != nullptr)
            *error = why;
        return false;
    };
    const bool grey = document.PlaneCount() == 1 &&
                      (document.mode == plugInModeGrayScale || document.mode == plugInModeGray16);
    const bool rgb = document.PlaneCount() == 3 &&
                     (document.mode == plugInModeRGBColor || document.mode == plugInModeRGB48);
    if (document.hasTransparency)
        return fail("the image has transparency, which a JPEG file cannot hold (write a PNG or TIFF file)");
    if (!grey && !rgb)
        return fail(std::string("a JPEG file holds grey or RGB images, not ") + ImageModeName(document.mode));
    if (document.width <= 0 || document.height <= 0 || document.width > 65500 || document.height > 65500)
        return fail("a JPEG file holds images of at most 65500 pixels a side");
    for (const JpegSegment &s : options.segments)
        if (s.data.size() > 65533)
            return fail("a metadata segment is larger than a JPEG file holds");
    Encoder e;
    try {
        e.buffer.resize(kBufferBytes);
        e.row.resize(size_t(document.width) * (grey ? 1 : 3));
        e.sink = &sink;
        e.info.err = jpeg_std_error(&e.errors);
        e.errors.error_exit = OnFatal;
        e.errors.emit_message = OnMessage;
        e.info.client_data = &e;
        if (!Encode(&e, document, options))
            return fail(e.outOfMemory ? "there is not enough memory to encode it"
                                      : "the JPEG encoder failed (" + std::string(e.message) + ")");
    } catch (const std::bad_alloc &) {
        return fail("there is not enough memory to encode it");
    }
    if (e.sinkFailed)
        return fail("the file could not be written");
    return true;
}
