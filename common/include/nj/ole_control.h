// What a container needs of a control that shows nothing at run time: siting
// (IOleObject), the control interface (IOleControl), loading and saving with
// no properties of its own (IPersistStreamInit, IPersistPropertyBag), and its
// coclass and event interface (IProvideClassInfo2). The control itself writes
// its dual interface and reacts to being loaded.
//
// Everything here is a no-op or a fixed answer; the only state kept is the
// client site, the OLE advise holder and the event freeze count.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include "nj/typed_dispatch.h"
#include "nj/unique.h"

namespace nj::com {

// What the control tells its container about itself.
struct ControlIdentity {
    CLSID clsid;
    IID events;          // the default source dispinterface
    DWORD miscStatus;    // OLEMISC_* flags
    LONG extentHimetric;  // width and height; the control does not resize
};

template <class Dual, class... More>
class OleControl : public TypedDispatch<Dual, IProvideClassInfo2, IOleObject, IOleControl, IPersistStreamInit,
                                        IPersistPropertyBag, More...> {
    using Base = TypedDispatch<Dual, IProvideClassInfo2, IOleObject, IOleControl, IPersistStreamInit,
                               IPersistPropertyBag, More...>;

public:
    // IProvideClassInfo2
    IFACEMETHODIMP GetClassInfo(ITypeInfo** info) override
    {
        RETURN_HR_IF_NULL(E_POINTER, info);
        *info = nullptr;
        return HandOutTypeInfo(coclass_.Get(), info);
    }
    IFACEMETHODIMP GetGUID(DWORD kind, GUID* guid) override
    {
        RETURN_HR_IF_NULL(E_POINTER, guid);
        *guid = GUID_NULL;
        RETURN_HR_IF(E_INVALIDARG, kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID);
        *guid = identity_.events;
        return S_OK;
    }

    // IOleObject
    IFACEMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        site_ = site;
        return S_OK;
    }
    IFACEMETHODIMP GetClientSite(IOleClientSite** site) override
    {
        RETURN_HR_IF_NULL(E_POINTER, site);
        return site_.CopyTo(site);
    }
    IFACEMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    IFACEMETHODIMP Close(DWORD) override { return S_OK; }
    IFACEMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override { return NotImplemented(moniker); }
    IFACEMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetClipboardData(DWORD, IDataObject** data) override { return NotImplemented(data); }
    // Nothing to show or activate: the standard verbs succeed doing nothing.
    IFACEMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        if (verb > 0) return OLEOBJ_S_INVALIDVERB;
        if (verb < OLEIVERB_DISCARDUNDOSTATE) return E_NOTIMPL;
        return S_OK;
    }
    IFACEMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override
    {
        RETURN_HR_IF_NULL(E_POINTER, verbs);
        *verbs = nullptr;
        return OLE_S_USEREG;
    }
    IFACEMETHODIMP Update() override { return S_OK; }
    IFACEMETHODIMP IsUpToDate() override { return S_OK; }
    IFACEMETHODIMP GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
    IFACEMETHODIMP GetUserType(DWORD, LPOLESTR* type) override
    {
        RETURN_HR_IF_NULL(E_POINTER, type);
        *type = nullptr;
        return OLE_S_USEREG;
    }
    // Whatever size the host asks for, the control keeps its own.
    IFACEMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override
    {
        RETURN_HR_IF_NULL(E_POINTER, size);
        RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
        return S_OK;
    }
    IFACEMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override
    {
        RETURN_HR_IF_NULL(E_POINTER, size);
        RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
        size->cx = identity_.extentHimetric;
        size->cy = identity_.extentHimetric;
        return S_OK;
    }
    IFACEMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override
    {
        RETURN_HR_IF_NULL(E_POINTER, connection);
        *connection = 0;
        if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(&adviseHolder_));
        return adviseHolder_->Advise(sink, connection);
    }
    IFACEMETHODIMP Unadvise(DWORD connection) override
    {
        RETURN_HR_IF(OLE_E_NOCONNECTION, !adviseHolder_);
        return adviseHolder_->Unadvise(connection);
    }
    IFACEMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override
    {
        RETURN_HR_IF_NULL(E_POINTER, advises);
        *advises = nullptr;
        RETURN_HR_IF(S_OK, !adviseHolder_);
        return adviseHolder_->EnumAdvise(advises);
    }
    IFACEMETHODIMP GetMiscStatus(DWORD, DWORD* status) override
    {
        RETURN_HR_IF_NULL(E_POINTER, status);
        *status = identity_.miscStatus;
        return S_OK;
    }
    IFACEMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleControl
    IFACEMETHODIMP GetControlInfo(CONTROLINFO* info) override
    {
        RETURN_HR_IF_NULL(E_POINTER, info);
        RETURN_HR_IF(E_INVALIDARG, info->cb < sizeof(CONTROLINFO));
        info->hAccel = nullptr;
        info->cAccel = 0;
        info->dwFlags = 0;
        return S_OK;
    }
    IFACEMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
    IFACEMETHODIMP FreezeEvents(BOOL freeze) override
    {
        if (freeze) {
            ++freezeCount_;
        } else if (freezeCount_ > 0) {
            --freezeCount_;
        }
        return S_OK;
    }

    // IPersist, IPersistStreamInit, IPersistPropertyBag
    IFACEMETHODIMP GetClassID(CLSID* clsid) override
    {
        RETURN_HR_IF_NULL(E_POINTER, clsid);
        *clsid = identity_.clsid;
        return S_OK;
    }
    IFACEMETHODIMP IsDirty() override { return S_FALSE; }
    IFACEMETHODIMP Load(IStream* stream) override
    {
        RETURN_HR_IF_NULL(E_POINTER, stream);
        OnLoaded(AmbientUserModeIsTrue());
        return S_OK;
    }
    IFACEMETHODIMP Save(IStream* stream, BOOL) override
    {
        RETURN_HR_IF_NULL(E_POINTER, stream);
        return S_OK;
    }
    IFACEMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override
    {
        RETURN_HR_IF_NULL(E_POINTER, size);
        size->QuadPart = 0;
        return S_OK;
    }
    // A new instance has nothing to read: it stays as it was made.
    IFACEMETHODIMP InitNew() override { return S_OK; }
    IFACEMETHODIMP Load(IPropertyBag* bag, IErrorLog*) override
    {
        RETURN_HR_IF_NULL(E_POINTER, bag);
        OnLoaded(AmbientUserModeIsTrue());
        return S_OK;
    }
    IFACEMETHODIMP Save(IPropertyBag* bag, BOOL, BOOL) override
    {
        RETURN_HR_IF_NULL(E_POINTER, bag);
        return S_OK;
    }

protected:
    OleControl(DispatchTypes types, ComPtr<ITypeInfo> coclass, const ControlIdentity& identity) noexcept
        : Base(std::move(types)), identity_(identity), coclass_(std::move(coclass))
    {
    }

    void* QueryOther(REFIID riid) noexcept override
    {
        if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo2*>(this);
        if (riid == IID_IPersist) return static_cast<IPersistStreamInit*>(this);
        return Base::QueryOther(riid);
    }

    // Saved state was loaded (through either persistence interface); userMode
    // is the site's ambient UserMode at that moment.
    virtual void OnLoaded(bool userMode) noexcept = 0;

    // While the container holds events frozen, the control drops them.
    bool EventsFrozen() const noexcept { return freezeCount_ > 0; }

    // True only for a site that answers UserMode with VARIANT_TRUE (as a
    // boolean or a number); no site, no answer or any other value is false.
    // Stricter than nj::dispatch::ToBool on purpose: the control has always
    // started its timer only for UserMode = True, and hosts rely on that.
    bool AmbientUserModeIsTrue() const noexcept
    {
        if (!site_) return false;
        ComPtr<IDispatch> ambient;
        if (FAILED(site_.As(&ambient))) return false;
        DISPPARAMS none = {};
        nj::unique_variant value;
        if (FAILED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                   &none, &value, nullptr, nullptr))) {
            return false;
        }
        if (FAILED(::VariantChangeType(&value, &value, 0, VT_I4))) return false;
        return value.lVal == VARIANT_TRUE;
    }

private:
    template <class T>
    static HRESULT NotImplemented(T** out) noexcept
    {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        return E_NOTIMPL;
    }

    ControlIdentity identity_;
    ComPtr<ITypeInfo> coclass_;
    ComPtr<IOleClientSite> site_;
    ComPtr<IOleAdviseHolder> adviseHolder_;
    long freezeCount_ = 0;
};

}  // namespace nj::com
