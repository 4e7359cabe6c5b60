#include "nj/event_sink.h"

#include "nj/result.h"

namespace nj::com {

HRESULT unique_advise::Advise(IConnectionPoint* point, IUnknown* sink) noexcept
{
    reset();
    RETURN_HR_IF_NULL(E_POINTER, point);
    DWORD cookie = 0;
    RETURN_IF_FAILED(point->Advise(sink, &cookie));
    point_ = point;
    cookie_ = cookie;
    return S_OK;
}

IFACEMETHODIMP EventSink::Invoke(DISPID dispid, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    if (result) ::VariantInit(result);
    static const DISPPARAMS kNoArguments{};
    try {
        return handler_ ? handler_(dispid, params ? *params : kNoArguments) : S_OK;
    }
    NJ_CATCH_RETURN()
}

void* EventSink::QueryOther(REFIID riid) noexcept
{
    return riid == events_ ? static_cast<IDispatch*>(this) : nullptr;
}

HRESULT SinkEvents(IUnknown* source, const IID& events, EventSink::Handler handler,
                   unique_advise* connection) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, connection);
    connection->reset();
    RETURN_HR_IF_NULL(E_POINTER, source);
    ComPtr<IConnectionPointContainer> points;
    RETURN_IF_FAILED(source->QueryInterface(IID_PPV_ARGS(&points)));
    ComPtr<IConnectionPoint> point;
    RETURN_IF_FAILED(points->FindConnectionPoint(events, &point));
    try {
        auto sink = Make<EventSink>(events, std::move(handler));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, sink.Get());
        return connection->Advise(point.Get(), static_cast<IDispatch*>(sink.Get()));
    }
    NJ_CATCH_RETURN()
}

}  // namespace nj::com
