// The module's two ways in: the process-attach hook and the host's entry point.
#include <new>

#include "plugin/FilterContext.h"

FilterContext gFilterContext;

// The static C++ runtime's release of what it allocated for itself (the
// emergency exception pool); libstdc++ defines it and declares it in no
// header.
namespace __gnu_cxx {
void __freeres();
}

// The threads library's thread-detach callback (the runtimes' once-only
// initialisations run through it). The first such call on a thread gives
// the thread a record of two handles (an event and the thread's own) that
// the library closes only when the thread ends, which a host's thread that
// frees the module never does first.
extern "C" PIMAGE_TLS_CALLBACK __xl_f;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        gFilterContext.moduleInstance = instance;
    // Freed by the host (not at the process's end, where everything goes
    // anyway): a host that loads the module for every run pays nothing for
    // a load. The module's own code never runs again after this.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        __gnu_cxx::__freeres();
        // The thread that frees the module leaves the library's view as if
        // it ended (a thread without a record is passed over).
        if (__xl_f != nullptr)
            __xl_f(instance, DLL_THREAD_DETACH, nullptr);
    }
    return TRUE;
}

namespace {

void Dispatch(FilterContext &context, int16_t selector)
{
    // For the about selector the block is an about record; it is kept as the
    // record pointer all the same, and only DoAbout runs, which never reads it.
    if (selector != filterSelectorAbout && context.filterRecord == nullptr) {
        *context.result = filterBadParameters;
        return;
    }
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

} // namespace

extern "C" __declspec(dllexport) void __cdecl PluginMain(int16_t selector, void *paramBlock,
                                                         intptr_t *data, int16_t *result)
{
    // A host that passes no result code hears nothing, but the handlers
    // always have somewhere to write.
    static int16_t unheard = 0;
    FilterContext &context = gFilterContext;
    context.filterRecord = static_cast<FilterRecord *>(paramBlock);
    context.data = data;
    context.result = result != nullptr ? result : &unheard;
    *context.result = noErr;

    // No exception may reach the host: what a handler held is released by
    // its owners on the way out, and the host hears of the failure.
    try {
        Dispatch(context, selector);
    } catch (const std::bad_alloc &) {
        *context.result = memFullErr;
    } catch (...) {
        *context.result = genericErr;
    }
    if (selector != filterSelectorAbout && context.filterRecord != nullptr) {
        try {
            context.TellUserOfFailure();
        } catch (...) {
        }
    }
}
