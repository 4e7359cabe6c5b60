// A small base for COM objects: reference count, QueryInterface over the
// listed interfaces, the module count behind DllCanUnloadNow, and a class
// factory template. Apartment-threaded objects only.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <tuple>
#include <new>
#include <utility>

#include "nj/result.h"

namespace nj::com {

using Microsoft::WRL::ComPtr;

// Live objects, class factories and server locks of this module.
inline std::atomic<long>& module_count() noexcept
{
    static std::atomic<long> count{0};
    return count;
}
inline void module_add_ref() noexcept { ++module_count(); }
inline void module_release() noexcept { --module_count(); }
inline bool module_can_unload() noexcept { return module_count() == 0; }

// Server locks are counted apart from objects, so that one unlock too many
// from a host cannot take away an object's share of the module count and let
// the module unload under a live object.
inline std::atomic<long>& server_locks() noexcept
{
    static std::atomic<long> count{0};
    return count;
}
inline void lock_server() noexcept
{
    ++server_locks();
    module_add_ref();
}
inline void unlock_server() noexcept
{
    long held = server_locks().load();
    while (held > 0) {
        if (server_locks().compare_exchange_weak(held, held - 1)) {
            module_release();
            return;
        }
    }
}

template <class... Interfaces>
class Object : public Interfaces... {
    using Primary = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<Primary*>(this));
        } else {
            (void)(Match<Interfaces>(riid, ppv) || ...);
        }
        if (*ppv == nullptr) *ppv = QueryOther(riid);
        RETURN_HR_IF(E_NOINTERFACE, *ppv == nullptr);
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    IFACEMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = --refs_;
        if (refs == 0) delete this;
        return refs;
    }

protected:
    Object() noexcept { module_add_ref(); }
    virtual ~Object() { module_release(); }

    // Answers for interfaces reached through a listed one (IDispatch behind a
    // dual interface, IPersist behind IPersistStreamInit, ...).
    virtual void* QueryOther(REFIID) noexcept { return nullptr; }

private:
    template <class I>
    bool Match(REFIID riid, void** ppv) noexcept
    {
        if (riid != __uuidof(I)) return false;
        *ppv = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> refs_{1};
};

// An object whose IDispatch publishes no type information: its callers bind
// by DISPID and never ask for names or types.
template <class... Interfaces>
class UntypedDispatch : public Object<Interfaces...> {
public:
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        RETURN_HR_IF_NULL(E_POINTER, count);
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        RETURN_HR_IF_NULL(E_POINTER, info);
        *info = nullptr;
        return DISP_E_BADINDEX;
    }
};

// Creates T with its one reference held by the returned pointer.
template <class T, class... Args>
ComPtr<T> Make(Args&&... args) noexcept
{
    ComPtr<T> object;
    // Not Attach: MinGW's ComPtr::Attach adds a reference, which would leak
    // every object made here.
    *object.ReleaseAndGetAddressOf() = new (std::nothrow) T(std::forward<Args>(args)...);
    return object;
}

// Creates T from `args`, runs its initialisation where it has one (a public
// member `HRESULT Initialize() noexcept`, for what a constructor cannot report), then
// hands the caller the interface it asked for. A failure at any step leaves
// *ppv null and the object gone.
template <class T, class... Args>
HRESULT CreateInstance(REFIID riid, void** ppv, Args&&... args) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    try {
        auto object = Make<T>(std::forward<Args>(args)...);
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, object.Get());
        if constexpr (requires { std::declval<T&>().Initialize(); }) RETURN_IF_FAILED(object->Initialize());
        return object->QueryInterface(riid, ppv);
    }
    NJ_CATCH_RETURN()
}

using CreatorFn = HRESULT (*)(REFIID, void**);

class ClassFactory final : public Object<IClassFactory> {
public:
    explicit ClassFactory(CreatorFn create) noexcept : create_(create) {}

    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        *ppv = nullptr;
        RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
        return create_(riid, ppv);
    }
    IFACEMETHODIMP LockServer(BOOL lock) override
    {
        if (lock) {
            lock_server();
        } else {
            unlock_server();
        }
        return S_OK;
    }

private:
    CreatorFn create_;
};

}  // namespace nj::com
