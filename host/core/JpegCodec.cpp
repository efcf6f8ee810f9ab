#include "host/core/JpegCodec.h"

#include <csetjmp>
#include <cstdio>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to Decode's setjmp. Decode keeps no C++ object alive
// across a libjpeg call, so the jump skips no destructor.
struct Decoder {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
    bool created = false;
    bool truncated = false;  // the data ran out before the image did
    bool outOfMemory = false;

    ~Decoder()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

void OnFatal(j_common_ptr info)
{
    auto *d = reinterpret_cast<Decoder *>(info->client_data);
    (*info->err->format_message)(info, d->message);
    d->outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(d->jump, 1);
}

// Warnings are not printed; the two that mean the image's data ended early
// are kept.
void OnMessage(j_common_ptr info, int level)
{
    auto *d = reinterpret_cast<Decoder *>(info->client_data);
    if (level < 0 && (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER)) {
        if (!d->truncated)
            (*info->err->format_message)(info, d->message);
        d->truncated = true;
    }
}

enum class Step { Read, Refused };

// The fewest bytes of entropy-coded data that can code the image: a bit a
// block in a progressive file (its first DC scan), two in a sequential one
// (DC and end of block); arithmetic coding can go below a bit, and is
// allowed 64 blocks a byte.
uint64_t FewestDataBytes(const jpeg_decompress_struct &info)
{
    uint64_t blocks = 0;
    for (int c = 0; c < info.num_components; ++c)
        blocks += uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
    if (info.arith_code)
        return blocks / 64;
    return (blocks * (info.progressive_mode ? 1 : 2)) / 8;
}

Step Decode(Decoder *d, const uint8_t *bytes, size_t size, Document *document, std::string *why,
            uint32_t maxSide)
{
    if (setjmp(d->jump) != 0)
        return Step::Refused;
    jpeg_create_decompress(&d->info);
    d->created = true;
    jpeg_mem_src(&d->info, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&d->info, TRUE);
    if (d->truncated)
        return Step::Refused;
    const jpeg_decompress_struct &info = d->info;
    if (info.image_width == 0 || info.image_height == 0 || info.image_width > maxSide ||
        info.image_height > maxSide) {
        *why = "its size, " + std::to_string(info.image_width) + " x " + std::to_string(info.image_height) +
               ", is not one the host opens (1 to " + std::to_string(maxSide) + " pixels a side)";
        return Step::Refused;
    }
    if (FewestDataBytes(info) > size) {
        *why = "its data cannot hold the " + std::to_string(info.image_width) + " x " +
               std::to_string(info.image_height) + " image it declares: " + std::to_string(size) +
               " bytes where coding it takes at least " + std::to_string(FewestDataBytes(info));
        return Step::Refused;
    }
    if (info.data_precision != 8) {
        *why = "it is a " + std::to_string(info.data_precision) + "-bit JPEG; the host decodes 8-bit JPEG files";
        return Step::Refused;
    }
    jpeg_start_decompress(&d->info);
    const int channels = info.output_components;
    int16_t mode;
    if (info.out_color_space == JCS_GRAYSCALE && channels == 1)
        mode = plugInModeGrayScale;
    else if (info.out_color_space == JCS_RGB && channels == 3)
        mode = plugInModeRGBColor;
    else if (info.out_color_space == JCS_CMYK && channels == 4)
        mode = plugInModeCMYKColor;
    else {
        *why = "it is a JPEG of " + std::to_string(channels) + " components in a colour space the host does not read";
        return Step::Refused;
    }
    *document = MakeDocument(int32_t(info.output_width), int32_t(info.output_height), channels, 8, mode);
    JSAMPARRAY row = (*d->info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d->info), JPOOL_IMAGE,
                                                  info.output_width * JDIMENSION(channels), 1);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        if (jpeg_read_scanlines(&d->info, row, 1) != 1)
            return Step::Refused;
        if (d->truncated)
            return Step::Refused;
        for (int c = 0; c < channels; ++c) {
            uint16_t *to = &document->At(c, 0, int32_t(y));
            const JSAMPLE *from = row[0] + c;
            for (JDIMENSION x = 0; x < info.output_width; ++x, from += channels)
                to[x] = *from;
        }
    }
    jpeg_finish_decompress(&d->info);
    return d->truncated ? Step::Refused : Step::Read;
}

} // namespace

bool LooksLikeJpeg(const uint8_t *bytes, size_t size)
{
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

ImageRead ReadJpeg(const uint8_t *bytes, size_t size, Document *document, std::string *error, uint32_t maxSide)
{
    *document = Document();
    if (!LooksLikeJpeg(bytes, size))
        return ImageRead::NotThisKind;
    if (uint64_t(size) > uint64_t(static_cast<unsigned long>(-1))) {
        if (error != nullptr)
            *error = "it is a JPEG file larger than the decoder takes";
        return ImageRead::Refused;
    }
    std::string why;
    Step step;
    Decoder d;
    try {
        d.info.err = jpeg_std_error(&d.errors);
        d.errors.error_exit = OnFatal;
        d.errors.emit_message = OnMessage;
        d.info.client_data = &d;
        step = Decode(&d, bytes, size, document, &why, maxSide);
    } catch (const std::bad_alloc &) {
        d.outOfMemory = true;
        step = Step::Refused;
    }
    if (step == Step::Read)
        return ImageRead::Read;
    *document = Document();
    if (error != nullptr) {
        if (!why.empty())
            *error = why;
        else if (d.outOfMemory)
            *error = "there is not enough memory to read it";
        else if (d.truncated)
            *error = "the file ends before its image does (" + std::string(d.message) + ")";
        else
            *error = "its JPEG data is damaged (" + std::string(d.message) + ")";
    }
    return ImageRead::Refused;
}
