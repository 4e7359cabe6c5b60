#include "class_objects.h"

#include "nj/com_object.h"
#include "plavox_control.h"
#include "plavox/plavox.h"

namespace plavox {
namespace {

struct ClassEntry {
    const CLSID* clsid;
    nj::com::CreatorFn create;
};

constexpr ClassEntry kClasses[] = {
    {&CLSID_clsPlavox, ClsPlavox::Create},
    {&CLSID_Plavox, PlavoxControl::Create},
};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    for (const ClassEntry& entry : kClasses) {
        if (clsid != *entry.clsid) continue;
        auto factory = nj::com::Make<nj::com::ClassFactory>(entry.create);
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, factory.Get());
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace plavox
