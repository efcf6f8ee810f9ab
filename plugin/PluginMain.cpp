// The module's two ways in: the process-attach hook and the host's entry point.
#include <pthread.h>

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
// pthread_getclean (from the threads library's pthread.h, which the C++
// runtime's headers include) gives the address of a field of the calling
// thread's record, making the record if it has none.

namespace {

// The threads library keeps its records in a thread-local slot that it
// allocates once per load and never frees (one slot per load: a host that
// loads the module for every run would run out of them after about a
// thousand). The slot is the one whose value, on this thread, is the
// record holding `field`.
DWORD ThreadRecordSlot(const void *field)
{
    const auto at = reinterpret_cast<uintptr_t>(field);
    for (DWORD slot = 0; slot < 1088; ++slot) {
        const auto value = reinterpret_cast<uintptr_t>(TlsGetValue(slot));
        if (value != 0 && value <= at && at - value < 256)
            return slot;
    }
    return TLS_OUT_OF_INDEXES;
}

// Ends the threads library's part in this thread, and frees its slot.
void ReleaseThreadRecord(HINSTANCE instance)
{
    if (__xl_f == nullptr)
        return;
    const DWORD slot = ThreadRecordSlot(pthread_getclean());
    // The thread leaves the library's view as if it ended: its record's
    // handles are closed.
    __xl_f(instance, DLL_THREAD_DETACH, nullptr);
    if (slot != TLS_OUT_OF_INDEXES)
        TlsFree(slot);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        gFilterContext.moduleInstance = instance;
    // Freed by the host (not at the process's end, where everything goes
    // anyway): a host that loads the module for every run pays nothing for
    // a load. The module's own code never runs again after this.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        __gnu_cxx::__freeres();
        ReleaseThreadRecord(instance);
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
