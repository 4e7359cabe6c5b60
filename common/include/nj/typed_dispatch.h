// IDispatch answered from a type library: the interface's own type for hosts
// that ask, its function table for names and calls. ITypeInfo::Invoke then
// calls the object through its vtable, so the object writes only the methods
// of its dual interface.
//
// The typed counterpart of UntypedDispatch (com_object.h). The first listed
// interface is the dual one; IDispatch is answered by it.
#pragma once

#include <oaidl.h>

#include <tuple>
#include <utility>

#include "nj/com_object.h"

namespace nj::com {

// Hands out an interface the caller releases; E_UNEXPECTED when there is none.
inline HRESULT HandOutTypeInfo(ITypeInfo* info, ITypeInfo** out) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = info;
    RETURN_HR_IF_NULL(E_UNEXPECTED, info);
    info->AddRef();
    return S_OK;
}

// The two views a dual interface's IDispatch works from. For a dual
// interface the library's own entry reads as a dispinterface (what hosts are
// shown); its function table is the interface behind it (what calls go to).
struct DispatchTypes {
    ComPtr<ITypeInfo> type;
    ComPtr<ITypeInfo> vtable;
};

template <class... Interfaces>
class TypedDispatch : public Object<Interfaces...> {
    using Dual = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        RETURN_HR_IF_NULL(E_POINTER, count);
        *count = 1;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        RETURN_HR_IF_NULL(E_POINTER, info);
        *info = nullptr;
        RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
        return HandOutTypeInfo(types_.type.Get(), info);
    }
    // Wine's own typed dispatch rejects a non-null riid as well; hosts that
    // pass one are wrong on every platform.
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        RETURN_HR_IF_NULL(E_UNEXPECTED, types_.vtable.Get());
        return ::DispGetIDsOfNames(types_.vtable.Get(), names, count, ids);
    }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* argError) override
    {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        RETURN_HR_IF_NULL(E_INVALIDARG, params);
        RETURN_HR_IF_NULL(E_UNEXPECTED, types_.vtable.Get());
        return types_.vtable->Invoke(static_cast<Dual*>(this), dispid, flags, params, result, exception,
                                     argError);
    }

protected:
    explicit TypedDispatch(DispatchTypes types) noexcept : types_(std::move(types)) {}

    void* QueryOther(REFIID riid) noexcept override
    {
        return riid == IID_IDispatch ? static_cast<IDispatch*>(static_cast<Dual*>(this)) : nullptr;
    }

private:
    DispatchTypes types_;
};

}  // namespace nj::com
