// The one object that lives as long as the module: the host's pointers for
// the call under way, the suites and ports of a run, the tone values and the
// preview state.
#pragma once

#include <windows.h>

#include "engine/FilterSettings.h"
#include "plugin/HostInterface.h"

class FilterContext {
public:
    FilterContext();
    virtual ~FilterContext();

    // Selector handlers; each reports through *result.
    void DoAbout();
    void DoParameters();
    void DoPrepare();
    void DoStart();
    void DoContinue();
    void DoFinish();

    FilterSettings settings;  // left to static zero-initialisation
    FilterRecord *filterRecord;
    intptr_t *data;
    int16_t *result;
    HINSTANCE moduleInstance;
    PIChannelPort portA;
    PIChannelPort portB;
    PSChannelPortsSuite3 *channelPorts;
    PSBufferSuite1 *buffers;
    Ptr tileMask;
    Rect previewRect;
    uint8_t *previewOriginal;
    float zoom;
    int32_t panX;
    int32_t panY;
    uint8_t *previewMask;
    uint8_t *previewShown;
    uint8_t *previewResult;

private:
    HWND HostWindow() const;
    bool RefuseUnsupportedDocument();
    bool AcquireSuites();
    void ReleaseSuites();
    void DisposePorts();
};

extern FilterContext gFilterContext;
