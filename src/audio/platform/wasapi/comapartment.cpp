#include "audio/platform/wasapi/comapartment.h"

#include <objbase.h>
#include <vector>

namespace {

// What each open enter() of this thread has to undo, innermost last.
thread_local std::vector<bool> entered;

} // namespace

ComApartment::ComApartment() : joined(join()) {}

ComApartment::~ComApartment()
{
    if (joined)
        CoUninitialize();
}

bool ComApartment::join()
{
    // S_OK and S_FALSE both count one initialisation; RPC_E_CHANGED_MODE counts none.
    return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void ComApartment::enter()
{
    entered.push_back(join());
}

void ComApartment::leave()
{
    if (entered.empty())
        return;
    const bool joined = entered.back();
    entered.pop_back();
    if (joined)
        CoUninitialize();
}
