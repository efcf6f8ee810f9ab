// The host's filter plug-in interface, declared from its published binary
// layout: the filter record, the about record, the callbacks, the handle
// procedures, the basic suite, the buffer suite (version 1), the channel-ports
// suite (version 3), the pixel descriptions, the document and channel
// descriptions, and the numeric codes.
//
// Everything is little-endian and every function pointer uses the C calling
// convention. The filter record is packed to 4 bytes; every other structure
// uses natural alignment. On 32-bit the two give the same record; on 64-bit
// they part from `inData` on, which is why the offsets are asserted for both.
//
// This header is shared by the module and by the emulated host. It includes no
// platform header, so that it also compiles on its own for either architecture.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Scalar types

typedef int16_t OSErr;
typedef int32_t SPErr;
typedef uint32_t OSType;
typedef int32_t Fixed;     // 16.16 fixed point
typedef uint8_t Boolean;   // 0 false; test only the low byte
typedef char *Ptr;
typedef char **Handle;     // a pointer to a master pointer: *h is the data
typedef struct HostChannelPort *PIChannelPort;

#if defined(_WIN32) && !defined(_WIN64)
#define PI_CDECL __cdecl
#else
#define PI_CDECL
#endif

// ---------------------------------------------------------------------------
// Geometry

struct Point {
    int16_t v;
    int16_t h;
};

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

struct VPoint {
    int32_t v;
    int32_t h;
};

struct VRect {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
};

struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

// ---------------------------------------------------------------------------
// Codes

enum FilterSelector : int16_t {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

enum HostResult : int16_t {
    noErr = 0,
    userCanceledErr = -128,
    paramErr = -50,
    memFullErr = -108,
    genericErr = -1,
    filterBadParameters = -30100,
    filterBadMode = -30101,
    errPlugInHostInsufficient = -30900,
    errUnknownPort = -30910,
    errUnsupportedDepth = -30914,
};

enum ImageMode : int16_t {
    plugInModeBitmap = 0,
    plugInModeGrayScale = 1,
    plugInModeIndexedColor = 2,
    plugInModeRGBColor = 3,
    plugInModeCMYKColor = 4,
    plugInModeHSLColor = 5,
    plugInModeHSBColor = 6,
    plugInModeMultichannel = 7,
    plugInModeDuotone = 8,
    plugInModeLabColor = 9,
    plugInModeGray16 = 10,
    plugInModeRGB48 = 11,
    plugInModeLab48 = 12,
    plugInModeCMYK64 = 13,
};

enum PixelMaskDescription : int32_t {
    kSimplePSMask = 0,
    kBlackMatPSMask = 1,
    kGrayMatPSMask = 2,
    kWhiteMatPSMask = 3,
    kInvertPSMask = 4,
};

enum ChannelType : int16_t {
    ctRed = 1,
    ctGreen = 2,
    ctBlue = 3,
};

// Four-character codes, first character in the most significant byte.
constexpr OSType MakeOSType(char a, char b, char c, char d)
{
    return (OSType(uint8_t(a)) << 24) | (OSType(uint8_t(b)) << 16) |
           (OSType(uint8_t(c)) << 8) | OSType(uint8_t(d));
}

// The signature of the host the filter interface comes from, which reports a
// plug-in's negative result codes to the user itself.
constexpr OSType kPhotoshopSignature = MakeOSType('8', 'B', 'I', 'M');

// Full scale of a 16-bit sample in the host's range.
constexpr int32_t kHost16BitMax = 32768;

// ---------------------------------------------------------------------------
// Callbacks carried by the filter record

extern "C" {
typedef Boolean(PI_CDECL *TestAbortProc)(void);
typedef void(PI_CDECL *ProgressProc)(int32_t done, int32_t total);
typedef OSErr(PI_CDECL *AdvanceStateProc)(void);
typedef void(PI_CDECL *HostProc)(int16_t selector, intptr_t *data);
typedef void(PI_CDECL *ProcessEventProc)(void *event);
typedef void(PI_CDECL *ColorServicesProc)(void *info);
typedef void(PI_CDECL *GetPropertyProc)(void);
}

// ---------------------------------------------------------------------------
// Auxiliary structures (natural alignment)

struct PlatformData {
    void *hwnd;  // the host's main window
};

extern "C" {
typedef Handle(PI_CDECL *NewPIHandleProc)(int32_t size);
typedef void(PI_CDECL *DisposePIHandleProc)(Handle h);
typedef int32_t(PI_CDECL *GetPIHandleSizeProc)(Handle h);
typedef OSErr(PI_CDECL *SetPIHandleSizeProc)(Handle h, int32_t newSize);
typedef Ptr(PI_CDECL *LockPIHandleProc)(Handle h, Boolean moveHigh);
typedef void(PI_CDECL *UnlockPIHandleProc)(Handle h);
typedef void(PI_CDECL *RecoverSpaceProc)(int32_t size);
typedef void(PI_CDECL *DisposeRegularHandleProc)(Handle h);
}

struct HandleProcs {
    int16_t handleProcsVersion;
    int16_t numHandleProcs;
    NewPIHandleProc newProc;
    DisposePIHandleProc disposeProc;
    GetPIHandleSizeProc getSizeProc;
    SetPIHandleSizeProc setSizeProc;
    LockPIHandleProc lockProc;
    UnlockPIHandleProc unlockProc;
    RecoverSpaceProc recoverSpaceProc;
    DisposeRegularHandleProc disposeRegularHandleProc;
};

constexpr int16_t kCurrentHandleProcsVersion = 1;
constexpr int16_t kCurrentHandleProcsCount = 8;

// The record's own memory blocks (older than the buffer suite): a block is
// allocated, locked for its address, unlocked and freed. Some hosts zero the
// version and count of a table they do fill: judge it by its pointers.
typedef struct HostBufferBlock *BufferID;
extern "C" {
typedef OSErr(PI_CDECL *AllocateBufferProc)(int32_t size, BufferID *bufferID);
typedef Ptr(PI_CDECL *LockBufferProc)(BufferID bufferID, Boolean moveHigh);
typedef void(PI_CDECL *UnlockBufferProc)(BufferID bufferID);
typedef void(PI_CDECL *FreeBufferProc)(BufferID bufferID);
typedef int32_t(PI_CDECL *BufferSpaceProc)(void);
typedef OSErr(PI_CDECL *ReserveBufferSpaceProc)(int32_t size);
typedef OSErr(PI_CDECL *AllocateBuffer64Proc)(int64_t size, BufferID *bufferID);
typedef int64_t(PI_CDECL *BufferSpace64Proc)(void);
}

struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
    // Version 2 and later.
    ReserveBufferSpaceProc reserveProc;
    AllocateBuffer64Proc allocateProc64;
    BufferSpace64Proc spaceProc64;
};

constexpr int16_t kCurrentBufferProcsVersion = 2;
constexpr int16_t kCurrentBufferProcsCount = 8;

struct PixelMemoryDesc {
    void *data;
    int32_t rowBits;
    int32_t colBits;
    int32_t bitOffset;
    int32_t depth;
};

struct PSScaling {
    VRect sourceRect;
    VRect destinationRect;
};

struct PSPixelMask {
    PSPixelMask *next;
    void *maskData;
    int32_t rowBytes;
    int32_t colBytes;
    int32_t maskDescription;
};

struct PSPixelMap {
    int32_t version;
    VRect bounds;
    int32_t imageMode;
    int32_t rowBytes;
    int32_t colBytes;
    int32_t planeBytes;
    void *baseAddr;
    // version 1
    PSPixelMask *mat;
    PSPixelMask *masks;
    int32_t maskPhaseRow;
    int32_t maskPhaseCol;
};

struct ReadChannelDesc {
    int32_t minVersion;
    int32_t maxVersion;
    ReadChannelDesc *next;
    PIChannelPort port;
    VRect bounds;
    int32_t depth;
    VPoint tileSize;
    VPoint tileOrigin;
    Boolean target;
    Boolean shown;
    int16_t channelType;
    void *contextInfo;
    const char *name;
};

struct ReadImageDocumentDesc {
    int32_t minVersion;
    int32_t maxVersion;
    int32_t imageMode;
    int32_t depth;
    VRect bounds;
    Fixed hResolution;
    Fixed vResolution;
    uint8_t redLUT[256];
    uint8_t greenLUT[256];
    uint8_t blueLUT[256];
    ReadChannelDesc *targetCompositeChannels;
    ReadChannelDesc *targetTransparency;
    ReadChannelDesc *targetLayerMask;
    ReadChannelDesc *mergedCompositeChannels;
    ReadChannelDesc *mergedTransparency;
    ReadChannelDesc *alphaChannels;
    ReadChannelDesc *selection;
};

struct PlugInMonitor {
    Fixed gamma;
    Fixed redX;
    Fixed redY;
    Fixed greenX;
    Fixed greenY;
    Fixed blueX;
    Fixed blueY;
    Fixed whiteX;
    Fixed whiteY;
    Fixed ambient;
};

extern "C" {
typedef OSErr(PI_CDECL *DisplayPixelsProc)(const PSPixelMap *source, const VRect *srcRect,
                                           int32_t dstRow, int32_t dstCol,
                                           void *platformContext);
}

// ---------------------------------------------------------------------------
// The basic suite and the two suites acquired through it

extern "C" {
typedef SPErr(PI_CDECL *SPAcquireSuiteProc)(const char *name, int32_t version,
                                            const void **suite);
typedef SPErr(PI_CDECL *SPReleaseSuiteProc)(const char *name, int32_t version);
typedef int32_t(PI_CDECL *SPIsEqualProc)(const char *token1, const char *token2);
typedef SPErr(PI_CDECL *SPAllocateBlockProc)(int32_t size, void **block);
typedef SPErr(PI_CDECL *SPFreeBlockProc)(void *block);
typedef SPErr(PI_CDECL *SPReallocateBlockProc)(void *block, int32_t newSize, void **newBlock);
typedef SPErr(PI_CDECL *SPUndefinedProc)(void);
}

struct SPBasicSuite {
    SPAcquireSuiteProc AcquireSuite;
    SPReleaseSuiteProc ReleaseSuite;
    SPIsEqualProc IsEqual;
    SPAllocateBlockProc AllocateBlock;
    SPFreeBlockProc FreeBlock;
    SPReallocateBlockProc ReallocateBlock;
    SPUndefinedProc Undefined;
};

#define kPSBufferSuite "Photoshop Buffer Suite for Plug-ins"
constexpr int32_t kPSBufferSuiteVersion1 = 1;

extern "C" {
typedef Ptr(PI_CDECL *BufferNewProc)(uint32_t *requestedSize, uint32_t minimumSize);
typedef void(PI_CDECL *BufferDisposeProc)(Ptr *buffer);
typedef uint32_t(PI_CDECL *BufferGetSizeProc)(Ptr buffer);
typedef uint32_t(PI_CDECL *BufferGetSpaceProc)(void);
}

struct PSBufferSuite1 {
    BufferNewProc New;
    BufferDisposeProc Dispose;
    BufferGetSizeProc GetSize;
    BufferGetSpaceProc GetSpace;
};

#define kPSChannelPortsSuite "Photoshop ChannelPorts Suite for Plug-ins"
constexpr int32_t kPSChannelPortsSuiteVersion3 = 3;

// Named operations of ApplyOperation, and their parameter blocks.
#define kGaussianBlurFilter "Photoshop Gaussian Blur Filter"
#define kMedianFilter "Photoshop Median Filter"
#define kMinimumFilter "Photoshop Minimum Filter"
#define kMaximumFilter "Photoshop Maximum Filter"
#define kCopyPixelsOperation "Photoshop Copy Pixels"
#define kSetPixelsOperation "Photoshop Set Pixels"

struct GaussianBlurParameters {
    Fixed radius;     // 16.16 pixels
    int32_t padding;  // 0..255 a constant, -1 edge replication
};

struct RadiusParameters {
    int32_t radius;   // whole pixels
    int32_t padding;  // as above
};

struct SetPixelsParameters {
    int32_t value;
};

constexpr int32_t kEdgeReplicationPadding = -1;

extern "C" {
typedef SPErr(PI_CDECL *ChannelPortOperationProc)(PIChannelPort source, PIChannelPort destination,
                                                  PIChannelPort mask, void *parameters,
                                                  VRect *rect, void *refCon);
}

struct PSChannelPortsSuite3 {
    SPErr(PI_CDECL *CountLevels)(PIChannelPort port, int32_t *count);
    SPErr(PI_CDECL *GetDepth)(PIChannelPort port, int32_t level, int32_t *depth);
    SPErr(PI_CDECL *GetDataBounds)(PIChannelPort port, int32_t level, VRect *bounds);
    SPErr(PI_CDECL *GetWriteLimit)(PIChannelPort port, int32_t level, VRect *writeBounds);
    SPErr(PI_CDECL *GetTilingGrid)(PIChannelPort port, int32_t level, VPoint *tileOrigin,
                                   VPoint *tileSize);
    SPErr(PI_CDECL *GetSupportRect)(PIChannelPort port, int32_t level, const VRect *bounds,
                                    int32_t *supportLevel, VRect *supportBounds);
    SPErr(PI_CDECL *GetDependentRect)(PIChannelPort port, int32_t sourceLevel,
                                      const VRect *sourceBounds, int32_t dependentLevel,
                                      VRect *dependentBounds);
    SPErr(PI_CDECL *CanRead)(PIChannelPort port, Boolean *canRead);
    SPErr(PI_CDECL *CanWrite)(PIChannelPort port, Boolean *canWrite);
    SPErr(PI_CDECL *ReadPixelsFromLevel)(PIChannelPort port, int32_t level, VRect *bounds,
                                         const PixelMemoryDesc *destination);
    SPErr(PI_CDECL *WritePixelsToBaseLevel)(PIChannelPort port, VRect *bounds,
                                            const PixelMemoryDesc *source);
    SPErr(PI_CDECL *ReadScaledPixels)(PIChannelPort port, VRect *readRect,
                                      const PSScaling *scaling,
                                      const PixelMemoryDesc *destination);
    SPErr(PI_CDECL *FindSourceForScaledRead)(PIChannelPort port, const VRect *readRect,
                                             const PSScaling *scaling, int32_t dstDepth,
                                             int32_t *sourceLevel, VRect *sourceRect,
                                             VRect *sourceScalingBounds);
    SPErr(PI_CDECL *New)(PIChannelPort *port, const VRect *rect, int32_t depth,
                         Boolean globalScope);
    SPErr(PI_CDECL *Dispose)(PIChannelPort *port);
    SPErr(PI_CDECL *SupportsOperation)(const char *operation, Boolean *supported);
    SPErr(PI_CDECL *ApplyOperation)(const char *operation, PIChannelPort source,
                                    PIChannelPort destination, PIChannelPort mask,
                                    void *parameters, VRect *rect);
    SPErr(PI_CDECL *AddOperation)(const char *operation, ChannelPortOperationProc proc,
                                  void *refCon);
    SPErr(PI_CDECL *RemoveOperation)(const char *operation, void **refCon);
    SPErr(PI_CDECL *NewCopyOnWrite)(PIChannelPort *result, PIChannelPort basePort,
                                    VRect *writeLimit, Boolean globalScope);
    SPErr(PI_CDECL *Freeze)(PIChannelPort port);
    SPErr(PI_CDECL *Restore)(PIChannelPort port, VRect *area);
};

// ---------------------------------------------------------------------------
// The filter record (packed to 4) and the about record

#pragma pack(push, 4)
struct FilterRecord {
    int32_t serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    Handle parameters;

    Point imageSize;
    int16_t planes;
    Rect filterRect;

    RGBColor background;
    RGBColor foreground;

    int32_t maxSpace;
    int32_t bufferSpace;

    Rect inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;

    Rect outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;

    void *inData;
    int32_t inRowBytes;
    void *outData;
    int32_t outRowBytes;

    Boolean isFloating;
    Boolean haveMask;
    Boolean autoMask;

    Rect maskRect;
    void *maskData;
    int32_t maskRowBytes;

    uint8_t backColor[4];
    uint8_t foreColor[4];

    OSType hostSig;
    HostProc hostProc;

    int16_t imageMode;
    Fixed imageHRes;
    Fixed imageVRes;

    Point floatCoord;
    Point wholeSize;

    PlugInMonitor monitor;

    void *platformData;
    BufferProcs *bufferProcs;
    void *resourceProcs;
    ProcessEventProc processEvent;
    DisplayPixelsProc displayPixels;
    HandleProcs *handleProcs;

    Boolean supportsDummyChannels;
    Boolean supportsAlternateLayouts;
    int16_t wantLayout;
    int16_t filterCase;
    int16_t dummyPlaneValue;
    void *premiereHook;
    AdvanceStateProc advanceState;

    Boolean supportsAbsolute;
    Boolean wantsAbsolute;
    GetPropertyProc getPropertyObsolete;
    Boolean cannotUndo;
    Boolean supportsPadding;
    int16_t inputPadding;
    int16_t outputPadding;
    int16_t maskPadding;
    uint8_t samplingSupport;
    uint8_t reservedByte;
    Fixed inputRate;
    Fixed maskRate;
    ColorServicesProc colorServices;

    int16_t inLayerPlanes;
    int16_t inTransparencyMask;
    int16_t inLayerMasks;
    int16_t inInvertedLayerMasks;
    int16_t inNonLayerPlanes;
    int16_t outLayerPlanes;
    int16_t outTransparencyMask;
    int16_t outLayerMasks;
    int16_t outInvertedLayerMasks;
    int16_t outNonLayerPlanes;
    int16_t absLayerPlanes;
    int16_t absTransparencyMask;
    int16_t absLayerMasks;
    int16_t absInvertedLayerMasks;
    int16_t absNonLayerPlanes;
    int16_t inPreDummyPlanes;
    int16_t inPostDummyPlanes;
    int16_t outPreDummyPlanes;
    int16_t outPostDummyPlanes;

    int32_t inColumnBytes;
    int32_t inPlaneBytes;
    int32_t outColumnBytes;
    int32_t outPlaneBytes;

    void *imageServicesProcs;
    void *propertyProcs;

    int16_t inTileHeight;
    int16_t inTileWidth;
    Point inTileOrigin;
    int16_t absTileHeight;
    int16_t absTileWidth;
    Point absTileOrigin;
    int16_t outTileHeight;
    int16_t outTileWidth;
    Point outTileOrigin;
    int16_t maskTileHeight;
    int16_t maskTileWidth;
    Point maskTileOrigin;

    void *descriptorParameters;
    Handle *errorString;
    void *channelPortProcs;
    ReadImageDocumentDesc *documentInfo;
    SPBasicSuite *sSPBasic;
    void *plugInRef;
    int32_t depth;
    Handle iCCprofileData;
    int32_t iCCprofileSize;
    int32_t canUseICCProfiles;

    uint8_t reserved[54];
};
#pragma pack(pop)

struct AboutRecord {
    PlatformData *platformData;
    SPBasicSuite *sSPBasic;
    void *plugInRef;
    uint8_t reserved[244];
};

// The entry point every filter exports (under the name in its property list).
extern "C" {
typedef void(PI_CDECL *PluginEntryProc)(int16_t selector, void *paramBlock, intptr_t *data,
                                        int16_t *result);
}

// ---------------------------------------------------------------------------
// Layout checks for the architecture being compiled

#define PI_CHECK_OFFSET(type, field, off32, off64)                                         \
    static_assert(offsetof(type, field) == (sizeof(void *) == 4 ? (off32) : (off64)),      \
                  #type "." #field " is not at its published offset")

static_assert(sizeof(void *) == 4 || sizeof(void *) == 8, "unsupported pointer size");
static_assert(sizeof(Boolean) == 1 && sizeof(Rect) == 8 && sizeof(VRect) == 16, "scalar sizes");
static_assert(sizeof(RGBColor) == 6 && sizeof(PlugInMonitor) == 40, "scalar sizes");

PI_CHECK_OFFSET(FilterRecord, serialNumber, 0, 0);
PI_CHECK_OFFSET(FilterRecord, abortProc, 4, 4);
PI_CHECK_OFFSET(FilterRecord, progressProc, 8, 12);
PI_CHECK_OFFSET(FilterRecord, parameters, 12, 20);
PI_CHECK_OFFSET(FilterRecord, imageSize, 16, 28);
PI_CHECK_OFFSET(FilterRecord, planes, 20, 32);
PI_CHECK_OFFSET(FilterRecord, filterRect, 22, 34);
PI_CHECK_OFFSET(FilterRecord, background, 30, 42);
PI_CHECK_OFFSET(FilterRecord, foreground, 36, 48);
PI_CHECK_OFFSET(FilterRecord, maxSpace, 44, 56);
PI_CHECK_OFFSET(FilterRecord, bufferSpace, 48, 60);
PI_CHECK_OFFSET(FilterRecord, inRect, 52, 64);
PI_CHECK_OFFSET(FilterRecord, inLoPlane, 60, 72);
PI_CHECK_OFFSET(FilterRecord, inHiPlane, 62, 74);
PI_CHECK_OFFSET(FilterRecord, outRect, 64, 76);
PI_CHECK_OFFSET(FilterRecord, outLoPlane, 72, 84);
PI_CHECK_OFFSET(FilterRecord, outHiPlane, 74, 86);
PI_CHECK_OFFSET(FilterRecord, inData, 76, 88);
PI_CHECK_OFFSET(FilterRecord, inRowBytes, 80, 96);
PI_CHECK_OFFSET(FilterRecord, outData, 84, 100);
PI_CHECK_OFFSET(FilterRecord, outRowBytes, 88, 108);
PI_CHECK_OFFSET(FilterRecord, isFloating, 92, 112);
PI_CHECK_OFFSET(FilterRecord, haveMask, 93, 113);
PI_CHECK_OFFSET(FilterRecord, autoMask, 94, 114);
PI_CHECK_OFFSET(FilterRecord, maskRect, 96, 116);
PI_CHECK_OFFSET(FilterRecord, maskData, 104, 124);
PI_CHECK_OFFSET(FilterRecord, maskRowBytes, 108, 132);
PI_CHECK_OFFSET(FilterRecord, backColor, 112, 136);
PI_CHECK_OFFSET(FilterRecord, foreColor, 116, 140);
PI_CHECK_OFFSET(FilterRecord, hostSig, 120, 144);
PI_CHECK_OFFSET(FilterRecord, hostProc, 124, 148);
PI_CHECK_OFFSET(FilterRecord, imageMode, 128, 156);
PI_CHECK_OFFSET(FilterRecord, imageHRes, 132, 160);
PI_CHECK_OFFSET(FilterRecord, imageVRes, 136, 164);
PI_CHECK_OFFSET(FilterRecord, floatCoord, 140, 168);
PI_CHECK_OFFSET(FilterRecord, wholeSize, 144, 172);
PI_CHECK_OFFSET(FilterRecord, monitor, 148, 176);
PI_CHECK_OFFSET(FilterRecord, platformData, 188, 216);
PI_CHECK_OFFSET(FilterRecord, bufferProcs, 192, 224);
PI_CHECK_OFFSET(FilterRecord, resourceProcs, 196, 232);
PI_CHECK_OFFSET(FilterRecord, processEvent, 200, 240);
PI_CHECK_OFFSET(FilterRecord, displayPixels, 204, 248);
PI_CHECK_OFFSET(FilterRecord, handleProcs, 208, 256);
PI_CHECK_OFFSET(FilterRecord, supportsDummyChannels, 212, 264);
PI_CHECK_OFFSET(FilterRecord, supportsAlternateLayouts, 213, 265);
PI_CHECK_OFFSET(FilterRecord, wantLayout, 214, 266);
PI_CHECK_OFFSET(FilterRecord, filterCase, 216, 268);
PI_CHECK_OFFSET(FilterRecord, dummyPlaneValue, 218, 270);
PI_CHECK_OFFSET(FilterRecord, premiereHook, 220, 272);
PI_CHECK_OFFSET(FilterRecord, advanceState, 224, 280);
PI_CHECK_OFFSET(FilterRecord, supportsAbsolute, 228, 288);
PI_CHECK_OFFSET(FilterRecord, wantsAbsolute, 229, 289);
PI_CHECK_OFFSET(FilterRecord, getPropertyObsolete, 232, 292);
PI_CHECK_OFFSET(FilterRecord, cannotUndo, 236, 300);
PI_CHECK_OFFSET(FilterRecord, supportsPadding, 237, 301);
PI_CHECK_OFFSET(FilterRecord, inputPadding, 238, 302);
PI_CHECK_OFFSET(FilterRecord, outputPadding, 240, 304);
PI_CHECK_OFFSET(FilterRecord, maskPadding, 242, 306);
PI_CHECK_OFFSET(FilterRecord, samplingSupport, 244, 308);
PI_CHECK_OFFSET(FilterRecord, reservedByte, 245, 309);
PI_CHECK_OFFSET(FilterRecord, inputRate, 248, 312);
PI_CHECK_OFFSET(FilterRecord, maskRate, 252, 316);
PI_CHECK_OFFSET(FilterRecord, colorServices, 256, 320);
PI_CHECK_OFFSET(FilterRecord, inLayerPlanes, 260, 328);
PI_CHECK_OFFSET(FilterRecord, inTransparencyMask, 262, 330);
PI_CHECK_OFFSET(FilterRecord, inLayerMasks, 264, 332);
PI_CHECK_OFFSET(FilterRecord, inInvertedLayerMasks, 266, 334);
PI_CHECK_OFFSET(FilterRecord, inNonLayerPlanes, 268, 336);
PI_CHECK_OFFSET(FilterRecord, outLayerPlanes, 270, 338);
PI_CHECK_OFFSET(FilterRecord, outTransparencyMask, 272, 340);
PI_CHECK_OFFSET(FilterRecord, outLayerMasks, 274, 342);
PI_CHECK_OFFSET(FilterRecord, outInvertedLayerMasks, 276, 344);
PI_CHECK_OFFSET(FilterRecord, outNonLayerPlanes, 278, 346);
PI_CHECK_OFFSET(FilterRecord, absLayerPlanes, 280, 348);
PI_CHECK_OFFSET(FilterRecord, absTransparencyMask, 282, 350);
PI_CHECK_OFFSET(FilterRecord, absLayerMasks, 284, 352);
PI_CHECK_OFFSET(FilterRecord, absInvertedLayerMasks, 286, 354);
PI_CHECK_OFFSET(FilterRecord, absNonLayerPlanes, 288, 356);
PI_CHECK_OFFSET(FilterRecord, inPreDummyPlanes, 290, 358);
PI_CHECK_OFFSET(FilterRecord, inPostDummyPlanes, 292, 360);
PI_CHECK_OFFSET(FilterRecord, outPreDummyPlanes, 294, 362);
PI_CHECK_OFFSET(FilterRecord, outPostDummyPlanes, 296, 364);
PI_CHECK_OFFSET(FilterRecord, inColumnBytes, 300, 368);
PI_CHECK_OFFSET(FilterRecord, inPlaneBytes, 304, 372);
PI_CHECK_OFFSET(FilterRecord, outColumnBytes, 308, 376);
PI_CHECK_OFFSET(FilterRecord, outPlaneBytes, 312, 380);
PI_CHECK_OFFSET(FilterRecord, imageServicesProcs, 316, 384);
PI_CHECK_OFFSET(FilterRecord, propertyProcs, 320, 392);
PI_CHECK_OFFSET(FilterRecord, inTileHeight, 324, 400);
PI_CHECK_OFFSET(FilterRecord, inTileWidth, 326, 402);
PI_CHECK_OFFSET(FilterRecord, inTileOrigin, 328, 404);
PI_CHECK_OFFSET(FilterRecord, absTileHeight, 332, 408);
PI_CHECK_OFFSET(FilterRecord, absTileWidth, 334, 410);
PI_CHECK_OFFSET(FilterRecord, absTileOrigin, 336, 412);
PI_CHECK_OFFSET(FilterRecord, outTileHeight, 340, 416);
PI_CHECK_OFFSET(FilterRecord, outTileWidth, 342, 418);
PI_CHECK_OFFSET(FilterRecord, outTileOrigin, 344, 420);
PI_CHECK_OFFSET(FilterRecord, maskTileHeight, 348, 424);
PI_CHECK_OFFSET(FilterRecord, maskTileWidth, 350, 426);
PI_CHECK_OFFSET(FilterRecord, maskTileOrigin, 352, 428);
PI_CHECK_OFFSET(FilterRecord, descriptorParameters, 356, 432);
PI_CHECK_OFFSET(FilterRecord, errorString, 360, 440);
PI_CHECK_OFFSET(FilterRecord, channelPortProcs, 364, 448);
PI_CHECK_OFFSET(FilterRecord, documentInfo, 368, 456);
PI_CHECK_OFFSET(FilterRecord, sSPBasic, 372, 464);
PI_CHECK_OFFSET(FilterRecord, plugInRef, 376, 472);
PI_CHECK_OFFSET(FilterRecord, depth, 380, 480);
PI_CHECK_OFFSET(FilterRecord, iCCprofileData, 384, 484);
PI_CHECK_OFFSET(FilterRecord, iCCprofileSize, 388, 492);
PI_CHECK_OFFSET(FilterRecord, canUseICCProfiles, 392, 496);
PI_CHECK_OFFSET(FilterRecord, reserved, 396, 500);
static_assert(sizeof(FilterRecord) == (sizeof(void *) == 4 ? 452 : 556),
              "FilterRecord has its published size");

PI_CHECK_OFFSET(AboutRecord, platformData, 0, 0);
PI_CHECK_OFFSET(AboutRecord, sSPBasic, 4, 8);
PI_CHECK_OFFSET(AboutRecord, plugInRef, 8, 16);
PI_CHECK_OFFSET(AboutRecord, reserved, 12, 24);

PI_CHECK_OFFSET(HandleProcs, handleProcsVersion, 0, 0);
PI_CHECK_OFFSET(HandleProcs, numHandleProcs, 2, 2);
PI_CHECK_OFFSET(HandleProcs, newProc, 4, 8);
PI_CHECK_OFFSET(HandleProcs, disposeProc, 8, 16);
PI_CHECK_OFFSET(HandleProcs, disposeRegularHandleProc, 32, 64);
PI_CHECK_OFFSET(BufferProcs, bufferProcsVersion, 0, 0);
PI_CHECK_OFFSET(BufferProcs, numBufferProcs, 2, 2);
PI_CHECK_OFFSET(BufferProcs, allocateProc, 4, 8);
PI_CHECK_OFFSET(BufferProcs, freeProc, 16, 32);
PI_CHECK_OFFSET(BufferProcs, spaceProc, 20, 40);
PI_CHECK_OFFSET(BufferProcs, spaceProc64, 32, 64);

PI_CHECK_OFFSET(PixelMemoryDesc, data, 0, 0);
PI_CHECK_OFFSET(PixelMemoryDesc, rowBits, 4, 8);
PI_CHECK_OFFSET(PixelMemoryDesc, colBits, 8, 12);
PI_CHECK_OFFSET(PixelMemoryDesc, bitOffset, 12, 16);
PI_CHECK_OFFSET(PixelMemoryDesc, depth, 16, 20);

PI_CHECK_OFFSET(PSScaling, sourceRect, 0, 0);
PI_CHECK_OFFSET(PSScaling, destinationRect, 16, 16);

PI_CHECK_OFFSET(PSPixelMask, next, 0, 0);
PI_CHECK_OFFSET(PSPixelMask, maskData, 4, 8);
PI_CHECK_OFFSET(PSPixelMask, rowBytes, 8, 16);
PI_CHECK_OFFSET(PSPixelMask, colBytes, 12, 20);
PI_CHECK_OFFSET(PSPixelMask, maskDescription, 16, 24);

PI_CHECK_OFFSET(PSPixelMap, version, 0, 0);
PI_CHECK_OFFSET(PSPixelMap, bounds, 4, 4);
PI_CHECK_OFFSET(PSPixelMap, imageMode, 20, 20);
PI_CHECK_OFFSET(PSPixelMap, rowBytes, 24, 24);
PI_CHECK_OFFSET(PSPixelMap, colBytes, 28, 28);
PI_CHECK_OFFSET(PSPixelMap, planeBytes, 32, 32);
PI_CHECK_OFFSET(PSPixelMap, baseAddr, 36, 40);
PI_CHECK_OFFSET(PSPixelMap, mat, 40, 48);
PI_CHECK_OFFSET(PSPixelMap, masks, 44, 56);
PI_CHECK_OFFSET(PSPixelMap, maskPhaseRow, 48, 64);
PI_CHECK_OFFSET(PSPixelMap, maskPhaseCol, 52, 68);

PI_CHECK_OFFSET(ReadImageDocumentDesc, minVersion, 0, 0);
PI_CHECK_OFFSET(ReadImageDocumentDesc, maxVersion, 4, 4);
PI_CHECK_OFFSET(ReadImageDocumentDesc, imageMode, 8, 8);
PI_CHECK_OFFSET(ReadImageDocumentDesc, depth, 12, 12);
PI_CHECK_OFFSET(ReadImageDocumentDesc, bounds, 16, 16);
PI_CHECK_OFFSET(ReadImageDocumentDesc, hResolution, 32, 32);
PI_CHECK_OFFSET(ReadImageDocumentDesc, vResolution, 36, 36);
PI_CHECK_OFFSET(ReadImageDocumentDesc, redLUT, 40, 40);
PI_CHECK_OFFSET(ReadImageDocumentDesc, greenLUT, 296, 296);
PI_CHECK_OFFSET(ReadImageDocumentDesc, blueLUT, 552, 552);
PI_CHECK_OFFSET(ReadImageDocumentDesc, targetCompositeChannels, 808, 808);
PI_CHECK_OFFSET(ReadImageDocumentDesc, targetTransparency, 812, 816);
PI_CHECK_OFFSET(ReadImageDocumentDesc, targetLayerMask, 816, 824);
PI_CHECK_OFFSET(ReadImageDocumentDesc, mergedCompositeChannels, 820, 832);
PI_CHECK_OFFSET(ReadImageDocumentDesc, mergedTransparency, 824, 840);
PI_CHECK_OFFSET(ReadImageDocumentDesc, alphaChannels, 828, 848);
PI_CHECK_OFFSET(ReadImageDocumentDesc, selection, 832, 856);

PI_CHECK_OFFSET(ReadChannelDesc, minVersion, 0, 0);
PI_CHECK_OFFSET(ReadChannelDesc, maxVersion, 4, 4);
PI_CHECK_OFFSET(ReadChannelDesc, next, 8, 8);
PI_CHECK_OFFSET(ReadChannelDesc, port, 12, 16);
PI_CHECK_OFFSET(ReadChannelDesc, bounds, 16, 24);
PI_CHECK_OFFSET(ReadChannelDesc, depth, 32, 40);
PI_CHECK_OFFSET(ReadChannelDesc, tileSize, 36, 44);
PI_CHECK_OFFSET(ReadChannelDesc, tileOrigin, 44, 52);
PI_CHECK_OFFSET(ReadChannelDesc, target, 52, 60);
PI_CHECK_OFFSET(ReadChannelDesc, shown, 53, 61);
PI_CHECK_OFFSET(ReadChannelDesc, channelType, 54, 62);
PI_CHECK_OFFSET(ReadChannelDesc, contextInfo, 56, 64);
PI_CHECK_OFFSET(ReadChannelDesc, name, 60, 72);

PI_CHECK_OFFSET(SPBasicSuite, AcquireSuite, 0, 0);
PI_CHECK_OFFSET(SPBasicSuite, ReleaseSuite, 4, 8);
PI_CHECK_OFFSET(SPBasicSuite, Undefined, 24, 48);

PI_CHECK_OFFSET(PSBufferSuite1, New, 0, 0);
PI_CHECK_OFFSET(PSBufferSuite1, Dispose, 4, 8);
PI_CHECK_OFFSET(PSBufferSuite1, GetSize, 8, 16);
PI_CHECK_OFFSET(PSBufferSuite1, GetSpace, 12, 24);

PI_CHECK_OFFSET(PSChannelPortsSuite3, CountLevels, 0, 0);
PI_CHECK_OFFSET(PSChannelPortsSuite3, CanRead, 7 * 4, 7 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, ReadPixelsFromLevel, 9 * 4, 9 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, WritePixelsToBaseLevel, 10 * 4, 10 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, ReadScaledPixels, 11 * 4, 11 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, New, 13 * 4, 13 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, Dispose, 14 * 4, 14 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, SupportsOperation, 15 * 4, 15 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, ApplyOperation, 16 * 4, 16 * 8);
PI_CHECK_OFFSET(PSChannelPortsSuite3, Restore, 21 * 4, 21 * 8);
static_assert(sizeof(PSChannelPortsSuite3) == 22 * sizeof(void *), "22 slots");

#undef PI_CHECK_OFFSET
