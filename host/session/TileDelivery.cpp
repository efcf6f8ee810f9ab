#include "host/session/TileDelivery.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "host/session/FilterHost.h"

namespace {

extern "C" Boolean PI_CDECL HostAbort()
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->tiles.Abort() : 0;
}

extern "C" void PI_CDECL HostProgress(int32_t done, int32_t total)
{
    if (FilterHost *host = FilterHost::Active())
        host->tiles.Progress(done, total);
}

extern "C" OSErr PI_CDECL HostAdvanceState()
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->tiles.Advance() : OSErr(genericErr);
}

bool Empty(const Rect &r)
{
    return r.bottom <= r.top || r.right <= r.left;
}

bool Inside(const Rect &r, int32_t width, int32_t height)
{
    return r.top >= 0 && r.left >= 0 && r.bottom <= height && r.right <= width && r.top <= r.bottom &&
           r.left <= r.right;
}

bool SameRect(const Rect &a, const Rect &b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

} // namespace

void TileDelivery::Serve(FilterRecord &record, Document *document)
{
    document_ = document;
    abortCalls_ = 0;
    advanceCalls_ = 0;
    pending_ = Output();
    stored_ = Output();
    fetched_ = false;
    const std::string &missing = host_.behaviour.missingEntry;
    record.advanceState = missing == "advanceState" ? nullptr : HostAdvanceState;
    record.progressProc = missing == "progressProc" ? nullptr : HostProgress;
    record.abortProc = missing == "abortProc" ? nullptr : HostAbort;
}

void TileDelivery::CommitOutput(Output *output)
{
    if (document_ == nullptr || Empty(output->rect) || output->buffer.empty())
        return;
    const Rect at = output->rect;
    const int32_t sampleBytes = document_->depth == 16 ? 2 : 1;
    const int32_t planes = output->hi - output->lo + 1;
    const int32_t width = at.right - at.left;
    const uint16_t full = uint16_t(document_->MaxSample());  // the host's range ends at its full scale
    for (int32_t y = at.top; y < at.bottom; ++y) {
        const uint8_t *row = output->buffer.data() + size_t(y - at.top) * size_t(output->rowBytes);
        if (planes == 3 && sampleBytes == 1) {
            // The common case, in one pass over the row.
            uint16_t *r = &document_->At(output->lo, at.left, y), *g = &document_->At(output->lo + 1, at.left, y),
                     *b = &document_->At(output->lo + 2, at.left, y);
            for (int32_t x = 0; x < width; ++x, row += 3) {
                r[x] = row[0];
                g[x] = row[1];
                b[x] = row[2];
            }
            continue;
        }
        for (int32_t p = 0; p < planes; ++p) {
            uint16_t *to = &document_->At(output->lo + p, at.left, y);
            if (sampleBytes == 2) {
                const uint16_t *from = reinterpret_cast<const uint16_t *>(row) + p;
                for (int32_t x = 0; x < width; ++x)
                    to[x] = std::min(from[size_t(x) * planes], full);
            } else {
                const uint8_t *from = row + p;
                for (int32_t x = 0; x < width; ++x)
                    to[x] = from[size_t(x) * planes];
            }
        }
    }
    host_.ports.DocumentChanged();
    output->rect = Rect();
}

void TileDelivery::Commit()
{
    CommitOutput(&pending_);
}

void TileDelivery::EndOfCall()
{
    if (!host_.LastStoredOutputOnly())
        Commit();
}

void TileDelivery::EndOfRun()
{
    if (host_.LastStoredOutputOnly())
        CommitOutput(&stored_);
}

OSErr TileDelivery::Undelivered(OSErr error, const std::string &why)
{
    if (!host_.Services().advanceAlwaysSucceeds)
        return error;
    FilterRecord &r = host_.Record();
    r.inData = r.outData = r.maskData = nullptr;
    r.inRowBytes = r.outRowBytes = r.maskRowBytes = 0;
    pending_.rect = Rect();
    fetched_ = false;
    host_.Log(EventKind::Advance, why + ": answered 0 with no buffers");
    return noErr;
}

OSErr TileDelivery::Advance()
{
    // The first request for output is the run's first tile, which ends the
    // dialog's share of the start call; image data the preview asks for
    // (no output) is the dialog's.
    if (!Empty(host_.Record().outRect))
        host_.DialogClosed();
    FilterHost::Stopwatch stopwatch(host_.DeliveryClock());
    ++advanceCalls_;
    const HostBehaviour &behaviour = host_.behaviour;
    FilterRecord &r = host_.Record();
    const ProfileServices services = host_.Services();
    if (host_.LastStoredOutputOnly()) {
        // The previous call's output is stored, over whatever was stored
        // before; the document itself is written only at the end of the run.
        if (!Empty(pending_.rect)) {
            if (!Empty(stored_.rect))
                host_.Log(EventKind::Advance, "output " + RectText(stored_.rect) + " discarded");
            std::swap(stored_, pending_);
            pending_.rect = Rect();
        }
    } else if (services.refetchOnlyForNewRectangle && fetched_ && SameRect(r.inRect, fetchedIn_) &&
               SameRect(r.outRect, fetchedOut_)) {
        // The same rectangles: the buffers stay as they were fetched, planes
        // and all, and what the filter writes into the output goes in again.
        const Rect out = pending_.rect;
        Commit();
        pending_.rect = out;
        host_.Log(EventKind::Advance, "in " + RectText(r.inRect) + " out " + RectText(r.outRect) +
                                          " not fetched again (the same rectangles)");
        return noErr;
    } else {
        Commit();
    }
    // The input's sampling step: the whole part of inputRate, where the
    // profile honours it; inRect is then in the reduced image.
    const int32_t step = services.integerInputRate ? std::max<int32_t>(1, r.inputRate >> 16) : 1;
    host_.Log(EventKind::Advance, "in " + RectText(r.inRect) + " out " + RectText(r.outRect) + " mask " +
                                      RectText(r.maskRect) + " planes " + std::to_string(r.inLoPlane) + ".." +
                                      std::to_string(r.inHiPlane) +
                                      (step > 1 ? " at rate " + std::to_string(step) : std::string()));
    fetched_ = false;
    if (document_ == nullptr)
        return Undelivered(genericErr, "no document");
    if (behaviour.failAdvanceOn > 0 && advanceCalls_ == behaviour.failAdvanceOn) {
        host_.Log(EventKind::Advance, "failed as asked");
        return Undelivered(behaviour.advanceError, "failed");
    }
    const int32_t w = document_->width, h = document_->height, count = document_->PlaneCount();
    const int32_t reducedW = (w + step - 1) / step, reducedH = (h + step - 1) / step;
    const bool planesOk = r.inLoPlane >= 0 && r.inLoPlane <= r.inHiPlane && r.inHiPlane < count &&
                          r.outLoPlane >= 0 && r.outLoPlane <= r.outHiPlane && r.outHiPlane < count;
    if (!Inside(r.inRect, reducedW, reducedH) || !Inside(r.outRect, w, h) ||
        (r.haveMask && !Inside(r.maskRect, w, h)) || (!planesOk && !(Empty(r.inRect) && Empty(r.outRect)))) {
        host_.Log(EventKind::Failure, "advanceState with a rectangle or planes outside the document");
        return Undelivered(paramErr, "outside the document");
    }
    // A host that serves every request from the pixel's first sample: one
    // plane, or planes from 1 on, come from the wrong place, and go back
    // there.
    auto served = [&](int16_t lo) { return services.planesFromFirstSample ? int16_t(0) : lo; };
    const int16_t inLo = served(r.inLoPlane), inHi = int16_t(inLo + r.inHiPlane - r.inLoPlane);
    const int16_t outLo = served(r.outLoPlane), outHi = int16_t(outLo + r.outHiPlane - r.outLoPlane);

    const int32_t sampleBytes = document_->depth == 16 ? 2 : 1;
    auto deliver = [&](const Rect &rect, int16_t lo, int16_t hi, int32_t every, std::vector<uint8_t> *buffer,
                       void **data, int32_t *rowBytes) {
        if (Empty(rect)) {
            *data = nullptr;
            *rowBytes = 0;
            return;
        }
        const int32_t planes = hi - lo + 1;
        // Padding comes in whole samples, as a real host's rows are aligned.
        const int32_t padding = (behaviour.rowPadding + sampleBytes - 1) / sampleBytes * sampleBytes;
        *rowBytes = (rect.right - rect.left) * planes * sampleBytes + padding;
        buffer->assign(size_t(*rowBytes) * size_t(rect.bottom - rect.top), 0xCD);
        const int32_t width = rect.right - rect.left;
        for (int32_t y = rect.top; y < rect.bottom; ++y) {
            uint8_t *row = buffer->data() + size_t(y - rect.top) * size_t(*rowBytes);
            if (every > 1) {
                // Every N-th pixel of every N-th row: pixel (x, y) of the
                // reduced image is the document's (x * N, y * N).
                for (int32_t x = 0; x < width; ++x)
                    for (int32_t p = 0; p < planes; ++p) {
                        const uint16_t v = document_->At(lo + p, (rect.left + x) * every, y * every);
                        if (sampleBytes == 2)
                            reinterpret_cast<uint16_t *>(row)[size_t(x) * planes + size_t(p)] = v;
                        else
                            row[size_t(x) * planes + size_t(p)] = uint8_t(v);
                    }
                continue;
            }
            if (planes == 3 && sampleBytes == 1) {
                // The common case, in one pass over the row.
                const uint16_t *r = &document_->At(lo, rect.left, y), *g = &document_->At(lo + 1, rect.left, y),
                               *b = &document_->At(lo + 2, rect.left, y);
                for (int32_t x = 0; x < width; ++x, row += 3) {
                    row[0] = uint8_t(r[x]);
                    row[1] = uint8_t(g[x]);
                    row[2] = uint8_t(b[x]);
                }
                continue;
            }
            for (int32_t p = 0; p < planes; ++p) {
                const uint16_t *from = &document_->At(lo + p, rect.left, y);
                if (sampleBytes == 2) {
                    uint16_t *to = reinterpret_cast<uint16_t *>(row) + p;
                    for (int32_t x = 0; x < width; ++x)
                        to[size_t(x) * planes] = from[x];
                } else {
                    uint8_t *to = row + p;
                    for (int32_t x = 0; x < width; ++x)
                        to[size_t(x) * planes] = uint8_t(from[x]);
                }
            }
        }
        *data = buffer->data();
    };
    deliver(r.inRect, inLo, inHi, step, &inBuffer_, &r.inData, &r.inRowBytes);
    deliver(r.outRect, outLo, outHi, 1, &pending_.buffer, &r.outData, &r.outRowBytes);
    if (behaviour.nullTileBuffers) {
        host_.Log(EventKind::Advance, "delivered no buffers as asked");
        r.inData = r.outData = nullptr;
    }
    if (services.columnBytes) {
        r.inColumnBytes = (r.inHiPlane - r.inLoPlane + 1) * sampleBytes;
        r.outColumnBytes = (r.outHiPlane - r.outLoPlane + 1) * sampleBytes;
    }

    if (r.haveMask && !Empty(r.maskRect) && !document_->selection.empty()) {
        const Rect &m = r.maskRect;
        r.maskRowBytes = (m.right - m.left) + behaviour.rowPadding;
        maskBuffer_.assign(size_t(r.maskRowBytes) * size_t(m.bottom - m.top), 0xCD);
        for (int32_t y = m.top; y < m.bottom; ++y)
            std::memcpy(maskBuffer_.data() + size_t(y - m.top) * size_t(r.maskRowBytes),
                        document_->selection.data() + size_t(y) * size_t(w) + size_t(m.left), size_t(m.right - m.left));
        r.maskData = maskBuffer_.data();
    } else {
        r.maskData = nullptr;
        r.maskRowBytes = 0;
    }

    pending_.rect = r.outRect;
    pending_.lo = outLo;
    pending_.hi = outHi;
    pending_.rowBytes = r.outRowBytes;
    fetchedIn_ = r.inRect;
    fetchedOut_ = r.outRect;
    fetched_ = true;
    return noErr;
}

Boolean TileDelivery::Abort()
{
    ++abortCalls_;
    if (!host_.Services().abortAnswers)
        return 0;
    const HostBehaviour &behaviour = host_.behaviour;
    if (behaviour.escapeCancels && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0)
        return 1;
    return behaviour.abortAfter > 0 && abortCalls_ >= behaviour.abortAfter ? 1 : 0;
}

void TileDelivery::Progress(int32_t done, int32_t total)
{
    host_.Log(EventKind::Progress, std::to_string(done) + "/" + std::to_string(total));
    if (host_.onProgress)
        host_.onProgress(done, total);
}
