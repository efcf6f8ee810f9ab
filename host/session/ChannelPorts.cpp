// The channel-ports suite: transfers between ports and the plug-in's memory,
// scaled reads, and the host's named filters, with the faults that tests ask
// for.
#include "host/session/ChannelPorts.h"

#include <algorithm>
#include <functional>

#include "host/session/FilterHost.h"
#include "host/core/Parallel.h"
#include "engine/ChannelFilters.h"

namespace {

const SPErr kNotImplemented = -1;
const SPErr kNotWritable = paramErr;
const SPErr kUnknownOperation = -1;

std::string RectText(const VRect &r)
{
    return "(" + std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
           std::to_string(r.right) + ")";
}

HostPort *PortOf(PIChannelPort port)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->ports.Find(port) : nullptr;
}

bool Fails(const std::string &call)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr && host->ports.CallFails(call);
}

void Log(const std::string &text)
{
    if (FilterHost *host = FilterHost::Active())
        host->Log(EventKind::Port, text);
}

extern "C" SPErr PI_CDECL PortCountLevels(PIChannelPort port, int32_t *count)
{
    HostPort *p = PortOf(port);
    if (p == nullptr || count == nullptr)
        return errUnknownPort;
    *count = p->createdByPlugin ? 1 : p->Levels().LevelCount();
    return noErr;
}

extern "C" SPErr PI_CDECL PortGetDepth(PIChannelPort port, int32_t, int32_t *depth)
{
    HostPort *p = PortOf(port);
    if (p == nullptr || depth == nullptr)
        return errUnknownPort;
    *depth = p->view.depth;
    return noErr;
}

extern "C" SPErr PI_CDECL PortGetDataBounds(PIChannelPort port, int32_t level, VRect *bounds)
{
    HostPort *p = PortOf(port);
    if (p == nullptr || bounds == nullptr)
        return errUnknownPort;
    if (level == 0) {
        *bounds = p->view.bounds;
        return noErr;
    }
    if (p->createdByPlugin || level < 0 || level >= p->Levels().LevelCount())
        return paramErr;
    *bounds = p->Levels().Level(level).bounds;
    return noErr;
}

extern "C" SPErr PI_CDECL PortGetWriteLimit(PIChannelPort port, int32_t, VRect *bounds)
{
    HostPort *p = PortOf(port);
    if (p == nullptr || bounds == nullptr)
        return errUnknownPort;
    *bounds = p->writable ? p->view.bounds : VRect{0, 0, 0, 0};
    return noErr;
}

extern "C" SPErr PI_CDECL PortCanRead(PIChannelPort port, Boolean *canRead)
{
    if (Fails("CanRead"))
        return kNotImplemented;
    HostPort *p = PortOf(port);
    if (p == nullptr || canRead == nullptr)
        return errUnknownPort;
    FilterHost *host = FilterHost::Active();
    *canRead = p->createdByPlugin || host->behaviour.canReadAnswer ? 1 : 0;
    return noErr;
}

extern "C" SPErr PI_CDECL PortCanWrite(PIChannelPort port, Boolean *canWrite)
{
    HostPort *p = PortOf(port);
    if (p == nullptr || canWrite == nullptr)
        return errUnknownPort;
    *canWrite = p->writable ? 1 : 0;
    return noErr;
}

extern "C" SPErr PI_CDECL PortReadPixels(PIChannelPort port, int32_t level, VRect *bounds,
                                         const PixelMemoryDesc *destination)
{
    HostPort *p = PortOf(port);
    if (p == nullptr)
        return errUnknownPort;
    if (bounds == nullptr || destination == nullptr)
        return paramErr;
    Log("read " + p->name + " level " + std::to_string(level) + " " + RectText(*bounds));
    if (Fails("ReadPixelsFromLevel"))
        return kNotImplemented;
    if (level == 0)
        return ReadToMemory(p->view, bounds, *destination);
    if (p->createdByPlugin || level < 0 || level >= p->Levels().LevelCount())
        return paramErr;
    return ReadToMemory(p->Levels().Level(level), bounds, *destination);
}

extern "C" SPErr PI_CDECL PortWritePixels(PIChannelPort port, VRect *bounds, const PixelMemoryDesc *source)
{
    HostPort *p = PortOf(port);
    if (p == nullptr)
        return errUnknownPort;
    if (bounds == nullptr || source == nullptr)
        return paramErr;
    Log("write " + p->name + " " + RectText(*bounds));
    if (Fails("WritePixelsToBaseLevel"))
        return kNotImplemented;
    if (!p->writable)
        return kNotWritable;
    p->pyramid.Clear();
    return WriteFromMemory(p->view, p->view.bounds, bounds, *source);
}

extern "C" SPErr PI_CDECL PortReadScaled(PIChannelPort port, VRect *readRect, const PSScaling *scaling,
                                         const PixelMemoryDesc *destination)
{
    HostPort *p = PortOf(port);
    if (p == nullptr)
        return errUnknownPort;
    if (readRect == nullptr || scaling == nullptr || destination == nullptr)
        return paramErr;
    Log("scaled read " + p->name + " " + RectText(scaling->sourceRect) + " -> " +
        RectText(scaling->destinationRect));
    if (Fails("ReadScaledPixels"))
        return kNotImplemented;
    return ReadScaledToMemory(p->Levels(), readRect, *scaling, *destination);
}

extern "C" SPErr PI_CDECL PortNew(PIChannelPort *port, const VRect *rect, int32_t depth, Boolean)
{
    FilterHost *host = FilterHost::Active();
    if (host == nullptr || port == nullptr || rect == nullptr)
        return paramErr;
    *port = nullptr;
    if (Fails("New"))
        return memFullErr;
    if (depth != 8 && depth != 16)
        return errUnsupportedDepth;
    HostPort *p = host->ports.New(*rect, depth);
    if (p == nullptr)
        return memFullErr;
    *port = p;
    return noErr;
}

extern "C" SPErr PI_CDECL PortDispose(PIChannelPort *port)
{
    FilterHost *host = FilterHost::Active();
    if (host == nullptr || port == nullptr)
        return paramErr;
    if (!host->ports.Dispose(*port))
        return errUnknownPort;
    *port = nullptr;
    return noErr;
}

bool KnownOperation(const std::string &name)
{
    return name == kGaussianBlurFilter || name == kMedianFilter || name == kCopyPixelsOperation ||
           name == kSetPixelsOperation;
}

extern "C" SPErr PI_CDECL PortSupportsOperation(const char *operation, Boolean *supported)
{
    if (operation == nullptr || supported == nullptr)
        return paramErr;
    *supported = KnownOperation(operation) ? 1 : 0;
    return noErr;
}

// Whether two channels' samples share memory.
bool Overlap(const RasterView &a, const RasterView &b)
{
    const uint16_t *aEnd = a.data + size_t(std::max(a.Width(), 0)) * size_t(std::max(a.Height(), 0));
    const uint16_t *bEnd = b.data + size_t(std::max(b.Width(), 0)) * size_t(std::max(b.Height(), 0));
    return a.data < bEnd && b.data < aEnd;
}

// Output rows of a band, at the least: fewer rows are not worth a thread,
// nor bands whose overlap (the rows the filter reaches beyond them) is
// most of their work.
const int32_t kBandRows = 64;

// A named filter over `rect`, its output rows in bands on the host's
// threads, each band with its own workspace; the whole call at once on this
// thread when there is one thread, the work is small, or the destination is
// the source. The first error of a band, in row order, is the answer.
SPErr InBands(const RasterView &from, const RasterView &to, const VRect &rect, int32_t reach, ChannelPorts &ports,
              const std::function<SPErr(int32_t, int32_t, filters::Workspace &)> &band)
{
    const VRect r = Intersect(Intersect(rect, from.bounds), to.bounds);
    const int threads = Overlap(from, to) ? 1 : parallel::ThreadCount();
    const int32_t rows = r.bottom - r.top;
    const int count = parallel::BandCount(rows, std::max(kBandRows, 2 * reach), threads);
    if (count <= 1)
        return band(rect.top, rect.bottom, ports.Workspace(0));
    for (int i = 1; i < count; ++i)
        ports.Workspace(size_t(i));  // made here, before the threads share the list
    std::vector<SPErr> answers(static_cast<size_t>(count), noErr);
    parallel::ForEach(count, threads, [&](int i) {
        int64_t begin = 0, end = 0;
        parallel::Band(rows, count, i, &begin, &end);
        answers[size_t(i)] = band(r.top + int32_t(begin), r.top + int32_t(end), ports.Workspace(size_t(i)));
    });
    for (SPErr e : answers)
        if (e != noErr)
            return e;
    return noErr;
}

extern "C" SPErr PI_CDECL PortApplyOperation(const char *operation, PIChannelPort source,
                                             PIChannelPort destination, PIChannelPort, void *parameters,
                                             VRect *rect)
{
    if (operation == nullptr || rect == nullptr)
        return paramErr;
    const std::string name = operation;
    Log("apply \"" + name + "\" " + RectText(*rect));
    if (!KnownOperation(name))
        return kUnknownOperation;
    if (Fails("ApplyOperation:" + name))
        return kNotImplemented;
    HostPort *to = PortOf(destination);
    if (to == nullptr)
        return errUnknownPort;
    if (!to->writable)
        return kNotWritable;
    to->pyramid.Clear();
    FilterHost::Stopwatch stopwatch(FilterHost::Active()->FilterClock());
    if (name == kSetPixelsOperation) {
        if (parameters == nullptr)
            return paramErr;
        return filters::SetPixels(to->view, *rect, static_cast<const SetPixelsParameters *>(parameters)->value);
    }
    HostPort *from = PortOf(source);
    if (from == nullptr)
        return errUnknownPort;
    if (name == kCopyPixelsOperation)
        return filters::CopyPixels(from->view, to->view, *rect);
    if (parameters == nullptr)
        return paramErr;
    ChannelPorts &ports = FilterHost::Active()->ports;
    if (name == kGaussianBlurFilter) {
        const auto *blur = static_cast<const GaussianBlurParameters *>(parameters);
        return InBands(from->view, to->view, *rect, filters::GaussianReach(blur->radius), ports,
                       [&](int32_t top, int32_t bottom, filters::Workspace &ws) {
                           return filters::GaussianBlurRows(from->view, to->view, *rect, blur->radius,
                                                            blur->padding, top, bottom, ws);
                       });
    }
    const auto *median = static_cast<const RadiusParameters *>(parameters);
    return InBands(from->view, to->view, *rect, median->radius, ports,
                   [&](int32_t top, int32_t bottom, filters::Workspace &ws) {
                       return filters::MedianFilterRows(from->view, to->view, *rect, median->radius,
                                                        median->padding, top, bottom, ws);
                   });
}

// Parts of the suite that no plug-in of this project calls answer "not
// implemented", as hosts that lack them do.
extern "C" SPErr PI_CDECL PortGetTilingGrid(PIChannelPort, int32_t, VPoint *, VPoint *) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortGetSupportRect(PIChannelPort, int32_t, const VRect *, int32_t *, VRect *) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortGetDependentRect(PIChannelPort, int32_t, const VRect *, int32_t, VRect *) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortFindSource(PIChannelPort, const VRect *, const PSScaling *, int32_t, int32_t *, VRect *, VRect *) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortAddOperation(const char *, ChannelPortOperationProc, void *) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortRemoveOperation(const char *, void **) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortNewCopyOnWrite(PIChannelPort *, PIChannelPort, VRect *, Boolean) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortFreeze(PIChannelPort) { return kNotImplemented; }
extern "C" SPErr PI_CDECL PortRestore(PIChannelPort, VRect *) { return kNotImplemented; }

} // namespace

// Each level's rows reduced in bands on the host's threads: rows of a level
// read twice as many of the level below, so a band of kBandRows rows or
// more is worth a thread.
const Pyramid &HostPort::Levels()
{
    if (pyramid.Empty()) {
        const int threads = parallel::ThreadCount();
        if (threads <= 1) {
            pyramid.Build(view);
        } else {
            pyramid.Build(view, 1, [threads](int32_t rows, const std::function<void(int32_t, int32_t)> &reduce) {
                parallel::ForBands(rows, kBandRows, threads, [&](int64_t begin, int64_t end, int) {
                    reduce(int32_t(begin), int32_t(end));
                });
            });
        }
    }
    return pyramid;
}

const PSChannelPortsSuite3 &ChannelPorts::Suite()
{
    static const PSChannelPortsSuite3 suite = {
        PortCountLevels, PortGetDepth,        PortGetDataBounds,     PortGetWriteLimit,  PortGetTilingGrid,
        PortGetSupportRect, PortGetDependentRect, PortCanRead,       PortCanWrite,       PortReadPixels,
        PortWritePixels,    PortReadScaled,      PortFindSource,        PortNew,            PortDispose,
        PortSupportsOperation, PortApplyOperation, PortAddOperation, PortRemoveOperation, PortNewCopyOnWrite,
        PortFreeze,         PortRestore};
    return suite;
}

HostPort *ChannelPorts::AddDocumentPlane(const std::string &name, const RasterView &view)
{
    auto port = std::make_unique<HostPort>();
    port->name = name;
    port->view = view;
    ports_.push_back(std::move(port));
    return ports_.back().get();
}

void ChannelPorts::DropDocumentPorts()
{
    for (auto it = ports_.begin(); it != ports_.end();)
        it = (*it)->createdByPlugin ? it + 1 : ports_.erase(it);
}

void ChannelPorts::DocumentChanged()
{
    for (const auto &port : ports_)
        if (!port->createdByPlugin)
            port->pyramid.Clear();
}

void ChannelPorts::CollectLeaks(std::vector<std::string> *leaks)
{
    for (auto it = ports_.begin(); it != ports_.end();) {
        if ((*it)->createdByPlugin) {
            leaks->push_back("channel port \"" + (*it)->name + "\" not disposed");
            it = ports_.erase(it);
        } else {
            ++it;
        }
    }
}

HostPort *ChannelPorts::Find(PIChannelPort port) const
{
    for (const auto &p : ports_)
        if (p.get() == port)
            return p.get();
    return nullptr;
}

HostPort *ChannelPorts::New(const VRect &rect, int32_t depth)
{
    const int64_t width = int64_t(rect.right) - rect.left;
    const int64_t height = int64_t(rect.bottom) - rect.top;
    if (width < 0 || height < 0 || width * height > (int64_t(1) << 31))
        return nullptr;
    auto port = std::make_unique<HostPort>();
    port->name = "scratch " + std::to_string(ports_.size());
    port->own = Raster(rect, depth);
    port->view = port->own.View();
    port->writable = true;
    port->createdByPlugin = true;
    host_.Log(EventKind::Port, "new " + std::to_string(width) + "x" + std::to_string(height) + " depth " +
                                   std::to_string(depth));
    ports_.push_back(std::move(port));
    return ports_.back().get();
}

bool ChannelPorts::Dispose(PIChannelPort port)
{
    for (auto it = ports_.begin(); it != ports_.end(); ++it)
        if (it->get() == port && (*it)->createdByPlugin) {
            host_.Log(EventKind::Port, "dispose " + (*it)->name);
            ports_.erase(it);
            return true;
        }
    host_.Log(EventKind::Failure, "dispose of an unknown port");
    return false;
}

bool ChannelPorts::CallFails(const std::string &call)
{
    const int count = ++callCounts_[call];
    const auto &faults = host_.behaviour.portFaults;
    auto fault = faults.find(call);
    const bool fails = fault != faults.end() && (fault->second == 0 || fault->second == count);
    if (fails)
        host_.Log(EventKind::Port, call + " failed as asked");
    return fails;
}
