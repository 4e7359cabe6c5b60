#include "control_host.h"

#include <olectl.h>

#include "nj/result.h"

namespace nightjar::app {
namespace {

// The saved state of a control placed at design time with no properties of
// its own: every read finds nothing.
class EmptyPropertyBag final : public nj::com::Object<IPropertyBag> {
public:
    IFACEMETHODIMP Read(LPCOLESTR, VARIANT*, IErrorLog*) override { return E_INVALIDARG; }
    IFACEMETHODIMP Write(LPCOLESTR, VARIANT*) override { return S_OK; }
};

}  // namespace

IFACEMETHODIMP ControlSite::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP ControlSite::GetContainer(IOleContainer** container)
{
    RETURN_HR_IF_NULL(E_POINTER, container);
    *container = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP ControlSite::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, dispid != DISPID_AMBIENT_USERMODE || !(flags & DISPATCH_PROPERTYGET));
    RETURN_HR_IF_NULL(E_POINTER, result);
    ::VariantInit(result);
    result->vt = VT_BOOL;
    result->boolVal = VARIANT_TRUE;
    return S_OK;
}

IFACEMETHODIMP ControlSite::GetExtendedControl(IDispatch** control)
{
    RETURN_HR_IF_NULL(E_POINTER, control);
    *control = nullptr;
    return E_NOTIMPL;
}

const plavox::TrackDetail* TrackDetailOf(const VARIANT& argument) noexcept
{
    const VARIANT* v = &argument;
    if (v->vt == (VT_VARIANT | VT_BYREF)) {
        v = v->pvarVal;
        if (v == nullptr) return nullptr;
    }
    if ((v->vt & ~VT_BYREF) != VT_RECORD) return nullptr;
    return static_cast<const plavox::TrackDetail*>(v->pvRecord);
}

HRESULT HandlePlavoxEvent(DISPID dispid, const DISPPARAMS& params,
                          const std::function<void(const plavox::TrackDetail&)>& on_track_changed)
{
    if (dispid != plavox::DISPID_TrackChanged) return S_OK;
    RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 1);
    const plavox::TrackDetail* detail = TrackDetailOf(params.rgvarg[0]);
    RETURN_HR_IF(DISP_E_TYPEMISMATCH, detail == nullptr);
    on_track_changed(*detail);
    return S_OK;
}

HRESULT HostedControl::CreateFromRegistration(const CLSID& clsid, HWND container) noexcept
{
    Reset();
    site_ = nj::com::Make<ControlSite>(container);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, site_.Get());
    RETURN_IF_FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object_)));
    RETURN_IF_FAILED(object_.As(&dispatch_));
    ComPtr<IOleClientSite> client_site;
    RETURN_IF_FAILED(site_.As(&client_site));
    RETURN_IF_FAILED(object_->SetClientSite(client_site.Get()));
    return LoadSavedState();
}

HRESULT HostedControl::LoadSavedState() noexcept
{
    ComPtr<IPersistPropertyBag> bag_persist;
    if (SUCCEEDED(object_.As(&bag_persist))) {
        auto bag = nj::com::Make<EmptyPropertyBag>();
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, bag.Get());
        return bag_persist->Load(bag.Get(), nullptr);
    }
    ComPtr<IPersistStreamInit> stream_persist;
    RETURN_IF_FAILED(object_.As(&stream_persist));
    ComPtr<IStream> stream;
    RETURN_IF_FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    return stream_persist->Load(stream.Get());
}

HRESULT HostedControl::ConnectEvents(const IID& events, nj::com::EventSink::Handler handler) noexcept
{
    RETURN_HR_IF_NULL(E_UNEXPECTED, object_.Get());
    return nj::com::SinkEvents(object_.Get(), events, std::move(handler), &events_);
}

void HostedControl::Reset() noexcept
{
    events_.reset();
    dispatch_.Reset();
    if (object_) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    object_.Reset();
    site_.Reset();
}

}  // namespace nightjar::app
