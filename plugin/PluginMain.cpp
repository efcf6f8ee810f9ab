// The module's two ways in: the process-attach hook and the host's entry point.
#include "plugin/FilterContext.h"

FilterContext gFilterContext;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        gFilterContext.moduleInstance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) void __cdecl PluginMain(int16_t selector, void *paramBlock,
                                                         intptr_t *data, int16_t *result)
{
    FilterContext &context = gFilterContext;
    // For the about selector the block is an about record; it is kept as the
    // record pointer all the same, and only DoAbout runs, which never reads it.
    context.filterRecord = static_cast<FilterRecord *>(paramBlock);
    context.data = data;
    context.result = result;
    *result = noErr;

    switch (selector) {
    case filterSelectorAbout:
        context.DoAbout();
        break;
    case filterSelectorParameters:
        context.DoParameters();
        break;
    case filterSelectorPrepare:
        context.DoPrepare();
        break;
    case filterSelectorStart:
        context.DoStart();
        break;
    case filterSelectorContinue:
        context.DoContinue();
        break;
    case filterSelectorFinish:
        context.DoFinish();
        break;
    default:
        break;
    }
}
