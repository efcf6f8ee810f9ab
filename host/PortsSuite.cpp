// The channel-ports suite: transfers between ports and the plug-in's memory,
// scaled reads, and the host's named filters, with the faults that tests ask
// for.
#include "host/FilterHost.h"
#include "host/HostPort.h"
#include "host/core/ChannelFilters.h"

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
    return host != nullptr ? host->FindPort(port) : nullptr;
}

bool Fails(const std::string &call)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr && host->PortCallFails(call);
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
    HostPort *p = host->NewPort(*rect, depth);
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
    if (!host->DisposePort(*port))
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
    if (name == kGaussianBlurFilter) {
        const auto *blur = static_cast<const GaussianBlurParameters *>(parameters);
        return filters::GaussianBlur(from->view, to->view, *rect, blur->radius, blur->padding);
    }
    const auto *median = static_cast<const RadiusParameters *>(parameters);
    return filters::MedianFilter(from->view, to->view, *rect, median->radius, median->padding);
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

const PSChannelPortsSuite3 &ChannelPortsSuite()
{
    static const PSChannelPortsSuite3 suite = {
        PortCountLevels, PortGetDepth,        PortGetDataBounds,     PortGetWriteLimit,  PortGetTilingGrid,
        PortGetSupportRect, PortGetDependentRect, PortCanRead,       PortCanWrite,       PortReadPixels,
        PortWritePixels,    PortReadScaled,      PortFindSource,        PortNew,            PortDispose,
        PortSupportsOperation, PortApplyOperation, PortAddOperation, PortRemoveOperation, PortNewCopyOnWrite,
        PortFreeze,         PortRestore};
    return suite;
}
