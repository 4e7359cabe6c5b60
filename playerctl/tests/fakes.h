// Stand-ins for what a Plavox control talks to: the player's main window, a
// container's client site with its ambient properties, an event sink and an
// empty property bag.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "nj/com_object.h"
#include "nj/module.h"
#include "nj/unique.h"
#include "plavox/plavox.h"
#include "plavox/player_window.h"

namespace plavox::test {

struct PlayerMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    bool operator==(const PlayerMessage&) const = default;
};

// A window of the player's class that records what it is sent and answers
// the WM_USER queries from its fields.
class FakePlayer {
public:
    explicit FakePlayer(const wchar_t* title = L"Plavox v1.x")
    {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = nj::CurrentModule();
        wc.lpszClassName = plavox::player::kWindowClass;
        ::RegisterClassExA(&wc);  // already there for the second player
        window_ = ::CreateWindowExA(0, plavox::player::kWindowClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    wc.hInstance, this);
        SetTitle(title);
    }
    FakePlayer(const FakePlayer&) = delete;
    FakePlayer& operator=(const FakePlayer&) = delete;
    ~FakePlayer() { Close(); }

    HWND Handle() const { return window_; }
    bool IsOpen() const { return window_ != nullptr; }
    void SetTitle(const wchar_t* title) { ::SetWindowTextW(window_, title); }
    void Close()
    {
        if (window_) ::DestroyWindow(window_);
    }

    std::vector<PlayerMessage> messages;
    int queries = 0;  // WM_USER queries answered
    LONG playState = 0;
    LONG positionMs = 0;
    LONG length = 0;
    LONG frequency = 0;
    LONG bitRate = 0;

private:
    LRESULT Answer(WPARAM wparam, LPARAM lparam)
    {
        ++queries;
        switch (lparam) {
        case 104: return playState;
        case 105: return wparam == 0 ? positionMs : length;
        case 126: return wparam == 0 ? frequency : bitRate;
        default: return 0;
        }
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
    {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
            ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<FakePlayer*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self) {
            if (message == WM_COMMAND || message == WM_CLOSE || (message == WM_USER && lparam == 101)) {
                self->messages.push_back({message, wparam, lparam});
            } else if (message == WM_USER) {
                return self->Answer(wparam, lparam);
            } else if (message == WM_NCDESTROY) {
                self->window_ = nullptr;
                ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            }
        }
        return ::DefWindowProcA(window, message, wparam, lparam);
    }

    HWND window_ = nullptr;
};

inline std::wstring Text(BSTR text)
{
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

// What a sink saw of one TrackChanged.
struct SeenDetail {
    std::wstring Title, Artist, TrackNumber;
    LONG Status;
    std::wstring Freq, Rate;
    LONG Length;
    std::wstring CurrentPos;
};

// An event sink for __Plavox that keeps what it receives. A handler may be
// set to change the record it is handed.
class EventSink final : public nj::com::UntypedDispatch<IDispatch> {
public:
    std::vector<SeenDetail> details;
    std::vector<LONG> positions;
    std::vector<DISPID> order;
    std::vector<VARTYPE> types;
    void (*onTrackChanged)(TrackDetail&) = nullptr;

    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                          UINT*) override
    {
        order.push_back(dispid);
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        VARIANT& arg = params->rgvarg[0];
        types.push_back(arg.vt);
        if (dispid == DISPID_TrackChanged && arg.vt == (VT_RECORD | VT_BYREF)) {
            auto& detail = *static_cast<TrackDetail*>(arg.pvRecord);
            details.push_back({Text(detail.Title), Text(detail.Artist), Text(detail.TrackNumber), detail.Status,
                               Text(detail.Freq), Text(detail.Rate), detail.Length, Text(detail.CurrentPos)});
            if (onTrackChanged) onTrackChanged(detail);
        } else if (dispid == DISPID_PlayPositionChanged && arg.vt == (VT_I4 | VT_BYREF)) {
            positions.push_back(*arg.plVal);
            *arg.plVal = 12345;
        }
        return S_OK;
    }
    void* QueryOther(REFIID riid) noexcept override
    {
        return riid == DIID___Plavox ? static_cast<IDispatch*>(this) : nullptr;
    }
    void Clear()
    {
        details.clear();
        positions.clear();
        order.clear();
        types.clear();
    }
};

// A client site whose ambient UserMode reads as set (VT_EMPTY: the site
// does not know it).
class ClientSite final : public nj::com::UntypedDispatch<IOleClientSite, IDispatch> {
public:
    explicit ClientSite(VARIANT_BOOL userMode, VARTYPE type = VT_BOOL) : userMode_(userMode), type_(type) {}

    IFACEMETHODIMP SaveObject() override { return E_NOTIMPL; }
    IFACEMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP ShowObject() override { return S_OK; }
    IFACEMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    IFACEMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                          UINT*) override
    {
        if (dispid != DISPID_AMBIENT_USERMODE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        if (type_ == VT_EMPTY) return DISP_E_MEMBERNOTFOUND;
        ::VariantInit(result);
        result->vt = type_;
        if (type_ == VT_BOOL) result->boolVal = userMode_;
        if (type_ == VT_I4) result->lVal = userMode_;
        return S_OK;
    }

private:
    VARIANT_BOOL userMode_;
    VARTYPE type_;
};

class EmptyPropertyBag final : public nj::com::Object<IPropertyBag> {
public:
    IFACEMETHODIMP Read(LPCOLESTR, VARIANT*, IErrorLog*) override { return E_INVALIDARG; }
    IFACEMETHODIMP Write(LPCOLESTR, VARIANT*) override { return S_OK; }
};

// Runs the thread's message loop until the condition holds or the time is up.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        if (::GetTickCount64() > deadline) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return true;
}

}  // namespace plavox::test
