#include "host/files/ImageFile.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <functional>
#include <cwctype>
#include <vector>

#include "host/core/JpegCodec.h"
#include "host/core/JpegWriter.h"
#include "host/core/PngReader.h"
#include "host/core/Parallel.h"
#include "host/core/PngWriter.h"
#include "host/files/FileSystem.h"
#include "host/core/TiffCodec.h"

namespace {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    T **Out() { Reset(); return &p_; }
    T *operator->() const { return p_; }
    T *Get() const { return p_; }
    void Reset()
    {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }

private:
    T *p_ = nullptr;
};

class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }

private:
    HRESULT hr_;
};

std::wstring Widen(const std::string &text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

bool Fail(std::string *error, const std::string &text, HRESULT hr = S_OK)
{
    if (error != nullptr) {
        char code[32] = "";
        if (hr != S_OK)
            snprintf(code, sizeof code, " (0x%08lx)", static_cast<unsigned long>(hr));
        *error = text + code;
    }
    return false;
}

bool CreateFactory(ComPtr<IWICImagingFactory> *factory, std::string *error)
{
    const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWICImagingFactory,
                                        reinterpret_cast<void **>(factory->Out()));
    return SUCCEEDED(hr) || Fail(error, "the imaging component is not available", hr);
}

// Channel count and bits per channel of a pixel format.
bool DescribeFormat(IWICImagingFactory *factory, const WICPixelFormatGUID &format, UINT *channels,
                    UINT *bitsPerPixel)
{
    ComPtr<IWICComponentInfo> info;
    ComPtr<IWICPixelFormatInfo> pixelInfo;
    if (FAILED(factory->CreateComponentInfo(format, info.Out())) ||
        FAILED(info->QueryInterface(IID_IWICPixelFormatInfo, reinterpret_cast<void **>(pixelInfo.Out()))))
        return false;
    return SUCCEEDED(pixelInfo->GetChannelCount(channels)) &&
           SUCCEEDED(pixelInfo->GetBitsPerPixel(bitsPerPixel));
}

// The name of a container this host does not read, for the message.
std::string ContainerName(const GUID &container)
{
    struct Known {
        const GUID *guid;
        const char *name;
    };
    const Known known[] = {
        {&GUID_ContainerFormatBmp, "a BMP image"},  {&GUID_ContainerFormatGif, "a GIF image"},
        {&GUID_ContainerFormatIco, "an icon"},      {&GUID_ContainerFormatWmp, "a JPEG XR image"},
        {&GUID_ContainerFormatDds, "a DDS texture"},
    };
    for (const Known &k : known)
        if (*k.guid == container)
            return k.name;
    return "an image of a kind";
}

// Palette and bilevel formats, which a host opens as RGB.
bool Indexed(const WICPixelFormatGUID &format)
{
    return format == GUID_WICPixelFormat1bppIndexed || format == GUID_WICPixelFormat2bppIndexed ||
           format == GUID_WICPixelFormat4bppIndexed || format == GUID_WICPixelFormat8bppIndexed ||
           format == GUID_WICPixelFormatBlackWhite || format == GUID_WICPixelFormat2bppGray ||
           format == GUID_WICPixelFormat4bppGray;
}

bool Cmyk(const WICPixelFormatGUID &format)
{
    return format == GUID_WICPixelFormat32bppCMYK || format == GUID_WICPixelFormat64bppCMYK;
}

// A failure of the codec, named: memory, or the file itself.
std::string DecodingFailure(HRESULT hr)
{
    return hr == E_OUTOFMEMORY ? "out of memory while decoding it" : "decoding failed";
}

std::wstring LowerExtension(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    std::wstring ext = dot == std::string::npos ? L"" : Widen(path.substr(dot));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](wchar_t c) { return wchar_t(std::towlower(c)); });
    return ext;
}

// Rows are read from the platform's decoder a strip at a time, so that no
// second copy of the whole image is ever held beside the document.
const UINT kStripRows = 64;

// An open file, closed with its object.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // False when closing failed (the last of the data may not be written).
    bool Close()
    {
        const bool ok = !Valid() || CloseHandle(handle_) != FALSE;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

// A file's bytes, read where the codec asks.
class FileSource : public SeekableSource {
public:
    explicit FileSource(HANDLE file) : file_(file)
    {
        LARGE_INTEGER size = {};
        if (GetFileSizeEx(file_, &size))
            size_ = uint64_t(size.QuadPart);
    }
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void *into, size_t size) override
    {
        size_t done = 0;
        while (done < size && offset + done < size_) {
            OVERLAPPED at = {};
            at.Offset = DWORD((offset + done) & 0xFFFFFFFFu);
            at.OffsetHigh = DWORD((offset + done) >> 32);
            DWORD got = 0;
            const DWORD want = DWORD(std::min<size_t>(size - done, 1u << 24));
            if (!ReadFile(file_, static_cast<uint8_t *>(into) + done, want, &got, &at) || got == 0)
                break;
            done += got;
        }
        return done;
    }

private:
    HANDLE file_;
    uint64_t size_ = 0;
};

// The output file as libtiff writes it, where it asks, every write checked
// by the file itself.
class OutputFileSink : public SeekableSink {
public:
    explicit OutputFileSink(files::OutputFile &file) : file_(file) {}
    uint64_t Size() const override { return file_.Size(); }
    bool WriteAt(uint64_t offset, const void *bytes, size_t size) override
    {
        return file_.WriteAt(offset, bytes, size);
    }
    std::string Failure() const override { return files::CauseWords(file_.Error(), file_.Path()); }

private:
    files::OutputFile &file_;
};

// TIFF is written by libtiff.
bool SaveTiff(files::OutputFile &file, const std::string &path, const Document &document, std::string *error,
              const ImageWriteOptions &options, std::vector<std::string> *dropped)
{
    OutputFileSink sink(file);
    std::string why;
    if (!WriteTiff(document, sink, &why, options.metadata, dropped))
        return Fail(error, "cannot write " + path + ": " + why);
    return true;
}

// JPEG is written by libjpeg-turbo, at the input JPEG's quality and chroma
// subsampling (or none) unless told otherwise.
bool SaveJpeg(files::OutputFile &file, const std::string &path, const Document &document, std::string *error,
              const ImageWriteOptions &options, std::vector<std::string> *dropped)
{
    JpegWriteOptions jpeg;
    const ImageMetadata *m = options.metadata;
    jpeg.quality = options.jpegQuality > 0              ? options.jpegQuality
                   : m != nullptr && m->jpegQuality > 0 ? m->jpegQuality
                                                        : 95;
    if (m != nullptr) {
        jpeg.chromaAcross = m->chromaAcross;
        jpeg.chromaDown = m->chromaDown;
        jpeg.resolution = m->resolution;
        jpeg.segments = JpegSegmentsFor(*m, dropped);
    }
    std::string why;
    bool ok = WriteJpeg(document, jpeg, [&](const uint8_t *bytes, size_t size) { return file.Write(bytes, size); },
                        &why);
    if (!ok)
        return Fail(error, "cannot write " + path + ": " +
                               (file.Error() != 0 ? files::CauseWords(file.Error(), path) : why));
    if (document.depth == 16)
        dropped->push_back("the 16-bit precision (a JPEG file holds 8 bits a sample; each was rounded)");
    return true;
}

// TIFF and JPEG files are read by libtiff and libjpeg-turbo: answers
// ImageRead::NotThisKind, having read only the first bytes, for a file of
// another kind.
ImageRead ReadTiffOrJpeg(const std::string &path, Document *document, std::string *error, ImageMetadata *metadata)
{
    FileHandle file(CreateFileW(files::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        Fail(error, "cannot open " + path + ": " + files::CauseWords(GetLastError(), path));
        return ImageRead::Refused;
    }
    FileSource source(file.Get());
    uint8_t head[4] = {};
    const size_t got = source.ReadAt(0, head, sizeof head);
    std::string why;
    ImageRead answer = ImageRead::NotThisKind;
    if (LooksLikeTiff(head, got)) {
        answer = ReadTiff(source, document, &why, 30000, metadata);
    } else if (LooksLikeJpeg(head, got)) {
        // A JPEG is read whole: its data is all compressed.
        if (source.Size() >= (1ull << 31)) {
            why = "it is a JPEG file of 2 GB or more, larger than the host reads";
            answer = ImageRead::Refused;
        } else {
            try {
                std::vector<uint8_t> bytes(size_t(source.Size()));
                if (source.ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) {
                    why = files::CauseWords(GetLastError(), path);
                    answer = ImageRead::Refused;
                } else {
                    answer = ReadJpeg(bytes.data(), bytes.size(), document, &why, 30000);
                    if (answer == ImageRead::Read && metadata != nullptr)
                        ReadJpegMetadata(bytes.data(), bytes.size(), metadata);
                }
            } catch (const std::bad_alloc &) {
                why = "there is not enough memory to read it";
                answer = ImageRead::Refused;
            }
        }
    }
    if (answer == ImageRead::Refused)
        Fail(error, "cannot read " + path + ": " + why);
    return answer;
}

// PNG is written by the host's own writer through zlib, at a fast level:
// the platform's encoder takes ten times as long on a large photograph.
bool SavePng(files::OutputFile &file, const std::string &path, const Document &document, std::string *error,
             const ImageWriteOptions &options, std::vector<std::string> *dropped)
{
    const std::vector<PngChunk> chunks =
        options.metadata != nullptr ? PngChunksFor(*options.metadata, dropped) : std::vector<PngChunk>();
    // Small pieces are gathered so that the file is written in large blocks.
    std::vector<uint8_t> pending;
    pending.reserve(1 << 20);
    auto flush = [&]() {
        if (!pending.empty() && !file.Write(pending.data(), pending.size()))
            return false;
        pending.clear();
        return true;
    };
    std::string why;
    bool ok = WritePng(document, [&](const uint8_t *bytes, size_t size) {
        if (pending.size() + size > pending.capacity() && !flush())
            return false;
        if (size >= pending.capacity())
            return file.Write(bytes, size);
        pending.insert(pending.end(), bytes, bytes + size);
        return true;
    }, &why, parallel::ThreadCount(), size_t(1) << 20, chunks);
    ok = ok && flush();
    if (!ok)
        return Fail(error, "cannot write " + path + ": " +
                               (file.Error() != 0 ? files::CauseWords(file.Error(), path) : why));
    return true;
}

// The bytes of a PNG file, for the host's own reader: empty, having read
// only the signature's 8 bytes, when the file is of another kind (or of
// 2 GB or more), which the platform's decoder reads itself.
bool ReadPngBytes(const std::string &path, std::vector<uint8_t> *bytes, std::string *error)
{
    bytes->clear();
    HANDLE file = CreateFileW(files::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(error, "cannot open " + path + " (error " + std::to_string(GetLastError()) + ")");
    LARGE_INTEGER size = {};
    uint8_t head[8] = {};
    DWORD got = 0;
    bool ok = GetFileSizeEx(file, &size) != FALSE && ReadFile(file, head, sizeof head, &got, nullptr) != FALSE;
    if (ok && LooksLikePng(head, got) && uint64_t(size.QuadPart) < (1ull << 31)) {
        bytes->resize(size_t(size.QuadPart));
        std::copy(head, head + got, bytes->begin());
        size_t done = got;
        while (ok && done < bytes->size()) {
            const DWORD want = DWORD(std::min<size_t>(bytes->size() - done, 1u << 24));
            ok = ReadFile(file, bytes->data() + done, want, &got, nullptr) != FALSE && got != 0;
            done += got;
        }
    }
    const DWORD lastError = GetLastError();
    CloseHandle(file);
    if (!ok)
        return Fail(error, "cannot read " + path + " (error " + std::to_string(lastError) + ")");
    return true;
}

} // namespace

bool LoadImageFile(const std::string &path, Document *document, std::string *error, ImageMetadata *metadata)
{
    if (metadata != nullptr)
        *metadata = ImageMetadata();
    if (!files::Exists(path))
        return Fail(error, "cannot open " + path + ": no such file");
    switch (ReadTiffOrJpeg(path, document, error, metadata)) {
    case ImageRead::Read:
        return true;
    case ImageRead::Refused:
        return false;
    default:
        break;
    }
    // The common kinds of PNG are read by the host's own reader, faster than
    // the platform's decoder and without a second decoded copy of the image;
    // the platform reads the other kinds of PNG, and names the other formats.
    std::vector<uint8_t> bytes;
    if (!ReadPngBytes(path, &bytes, error))
        return false;
    std::string why;
    if (metadata != nullptr)
        ReadPngMetadata(bytes.data(), bytes.size(), metadata);
    switch (ReadPng(bytes.data(), bytes.size(), document, &why, 30000, parallel::ThreadCount())) {
    case PngRead::Read:
        return true;
    case PngRead::Damaged:
        *document = Document();
        return Fail(error, "cannot read " + path + ": " + why);
    default:
        break;
    }
    bytes = std::vector<uint8_t>();

    ComScope com;
    ComPtr<IWICImagingFactory> factory;
    if (!CreateFactory(&factory, error))
        return false;

    ComPtr<IWICBitmapDecoder> decoder;
    HRESULT hr = factory->CreateDecoderFromFilename(files::SystemPath(path).c_str(), nullptr, GENERIC_READ,
                                                    WICDecodeMetadataCacheOnDemand, decoder.Out());
    if (hr == E_OUTOFMEMORY)
        return Fail(error, "cannot read " + path + ": out of memory", hr);
    if (FAILED(hr))
        return Fail(error, "cannot read " + path + ": not an image this host can decode (PNG, TIFF or JPEG)", hr);
    GUID container = {};
    decoder->GetContainerFormat(&container);
    if (container != GUID_ContainerFormatPng)
        return Fail(error, "cannot read " + path + ": it is " + ContainerName(container) +
                               "; only PNG, TIFF and JPEG files are supported");
    UINT pages = 0;
    if (SUCCEEDED(decoder->GetFrameCount(&pages)) && pages > 1)
        return Fail(error, "cannot read " + path + ": it holds " + std::to_string(pages) +
                               " pages; the host opens single-page files only");

    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(hr = decoder->GetFrame(0, frame.Out())))
        return Fail(error, "cannot read " + path + ": no image in the file", hr);
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = {};
    frame->GetSize(&width, &height);
    frame->GetPixelFormat(&format);
    if (width == 0 || height == 0 || width > 30000 || height > 30000)
        return Fail(error, "cannot read " + path + ": unsupported image size");

    UINT channels = 0, bitsPerPixel = 0;
    if (!DescribeFormat(factory.Get(), format, &channels, &bitsPerPixel) || channels == 0)
        return Fail(error, "cannot read " + path + ": unknown pixel format");
    // Palette and bilevel images open as RGB (with transparency where the
    // palette has it); CMYK stays CMYK, which the filter is not for.
    const bool indexed = Indexed(format), cmyk = Cmyk(format);
    const bool sixteen = !indexed && bitsPerPixel / channels > 8;
    const bool grey = !indexed && channels <= 2;
    bool alpha = !cmyk && (channels == 2 || channels == 4);
    if (indexed) {
        alpha = false;
        ComPtr<IWICPalette> palette;
        BOOL hasAlpha = FALSE;
        if (SUCCEEDED(factory->CreatePalette(palette.Out())) && SUCCEEDED(frame->CopyPalette(palette.Get())) &&
            SUCCEEDED(palette->HasAlpha(&hasAlpha)))
            alpha = hasAlpha != FALSE;
    }

    // Formats read as they are; anything else is converted to RGBA (or grey)
    // at its depth. Wine's converter does not reach every 16-bit layout, so
    // the common 16-bit ones are taken directly.
    struct Layout {
        const GUID *format;
        int channels;
        bool bgr;
    };
    const Layout direct[] = {
        {&GUID_WICPixelFormat48bppRGB, 3, false}, {&GUID_WICPixelFormat48bppBGR, 3, true},
        {&GUID_WICPixelFormat64bppRGBA, 4, false}, {&GUID_WICPixelFormat64bppBGRA, 4, true},
        {&GUID_WICPixelFormat16bppGray, 1, false}, {&GUID_WICPixelFormat24bppRGB, 3, false},
        {&GUID_WICPixelFormat24bppBGR, 3, true},   {&GUID_WICPixelFormat32bppRGBA, 4, false},
        {&GUID_WICPixelFormat32bppBGRA, 4, true},  {&GUID_WICPixelFormat8bppGray, 1, false},
    };
    int outChannels = 0;
    bool bgr = false;
    for (const Layout &layout : direct)
        if (*layout.format == format) {
            outChannels = layout.channels;
            bgr = layout.bgr;
        }
    if (cmyk)
        outChannels = 4;
    ComPtr<IWICFormatConverter> converter;
    IWICBitmapSource *source = frame.Get();
    if (outChannels == 0) {
        WICPixelFormatGUID target;
        if (indexed) {
            target = GUID_WICPixelFormat32bppBGRA;
            outChannels = 4;
            bgr = true;
        } else if (grey) {
            target = sixteen ? GUID_WICPixelFormat16bppGray : GUID_WICPixelFormat8bppGray;
            outChannels = 1;
        } else {
            target = sixteen ? GUID_WICPixelFormat64bppRGBA : GUID_WICPixelFormat32bppRGBA;
            outChannels = 4;
        }
        if (FAILED(hr = factory->CreateFormatConverter(converter.Out())) ||
            FAILED(hr = converter->Initialize(frame.Get(), target, WICBitmapDitherTypeNone, nullptr, 0.0,
                                              WICBitmapPaletteTypeCustom)))
            return Fail(error, "cannot read " + path + ": cannot convert its pixel format", hr);
        source = converter.Get();
    }

    const UINT sampleBytes = sixteen ? 2 : 1;
    const UINT stride = width * UINT(outChannels) * sampleBytes;
    const int32_t planeCount = grey ? 1 : (alpha || cmyk ? 4 : 3);
    const int16_t mode = cmyk   ? (sixteen ? plugInModeCMYK64 : plugInModeCMYKColor)
                         : grey ? (sixteen ? plugInModeGray16 : plugInModeGrayScale)
                                : (sixteen ? plugInModeRGB48 : plugInModeRGBColor);
    *document = MakeDocument(int32_t(width), int32_t(height), planeCount, sixteen ? 16 : 8, mode);
    document->hasTransparency = alpha && !grey;
    // A strip at a time: the document is the only whole copy of the image.
    std::vector<uint8_t> strip(size_t(stride) * std::min(kStripRows, height));
    for (UINT top = 0; top < height; top += kStripRows) {
        const UINT rows = std::min(kStripRows, height - top);
        const WICRect rect = {0, INT(top), INT(width), INT(rows)};
        if (FAILED(hr = source->CopyPixels(&rect, stride, stride * rows, strip.data()))) {
            *document = Document();
            return Fail(error, "cannot read " + path + ": " + DecodingFailure(hr), hr);
        }
        for (UINT r = 0; r < rows; ++r) {
            const uint8_t *row = strip.data() + size_t(r) * stride;
            const int32_t y = int32_t(top + r);
            for (int32_t p = 0; p < planeCount; ++p) {
                const int32_t c = bgr && p < 3 ? 2 - p : p;
                uint16_t *to = &document->At(p, 0, y);
                const uint8_t *s = row + size_t(c) * sampleBytes;
                const size_t step = size_t(outChannels) * sampleBytes;
                if (sixteen)
                    for (UINT x = 0; x < width; ++x, s += step)
                        to[x] = FileToHost16(uint16_t(s[0] | (s[1] << 8)));
                else
                    for (UINT x = 0; x < width; ++x, s += step)
                        to[x] = s[0];
            }
        }
    }
    return true;
}

bool WritableImageName(const std::string &path)
{
    const std::wstring ext = LowerExtension(path);
    return ext == L".png" || ext == L".tif" || ext == L".tiff" || ext == L".jpg" || ext == L".jpeg";
}

bool SaveImageFile(const std::string &path, const Document &document, std::string *error,
                   const ImageWriteOptions &options, std::vector<std::string> *notes)
{
    files::OutputFile file;
    if (!file.Create(path))
        return Fail(error, "cannot write " + path + ": " + files::CauseWords(file.Error(), path));
    if (!WriteImageFile(file, path, document, error, options, notes))
        return false;
    if (!file.Finish())
        return Fail(error, "cannot write " + path + ": " + files::CauseWords(file.Error(), path));
    return true;
}

bool WriteImageFile(files::OutputFile &file, const std::string &path, const Document &document, std::string *error,
                    const ImageWriteOptions &options, std::vector<std::string> *notes)
{
    std::vector<std::string> dropped;
    const std::wstring ext = LowerExtension(path);
    bool written;
    if (ext == L".png")
        written = SavePng(file, path, document, error, options, &dropped);
    else if (ext == L".tif" || ext == L".tiff")
        written = SaveTiff(file, path, document, error, options, &dropped);
    else if (ext == L".jpg" || ext == L".jpeg")
        written = SaveJpeg(file, path, document, error, options, &dropped);
    else
        return Fail(error, "cannot write " + path + ": the name must end in .png, .tif, .tiff, .jpg or .jpeg");
    if (written && notes != nullptr)
        notes->insert(notes->end(), dropped.begin(), dropped.end());
    return written;
}
