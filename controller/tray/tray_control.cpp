#include "tray_control.h"

#include <memory>
#include <utility>

#include "nj/com_object.h"
#include "nj/connection_point.h"
#include "nj/result.h"
#include "nj/unique.h"
#include "nj/window_base.h"

namespace nightjar::tray {
namespace {

using nj::com::ComPtr;

class TrayControl;

// The icon's hidden top-level owner; it hands its messages to the control.
class OwnerWindow final : public nj::Window<OwnerWindow> {
public:
    static constexpr const wchar_t* kClassName = tray::kOwnerClass;

    explicit OwnerWindow(TrayControl& control) noexcept : control_(control) {}
    HRESULT Create() noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    TrayControl& control_;
};

class TrayControl final : public nj::com::UntypedDispatch<IDispatch, IConnectionPointContainer> {
public:
    explicit TrayControl(std::shared_ptr<NotifyShell> shell) noexcept
        : shell_(std::move(shell)), events_(this, DIID_TrayEvents), owner_(*this)
    {
    }

    HRESULT Initialize() noexcept;

    // IDispatch
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO*, UINT* arg_err) override;

    // IConnectionPointContainer
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

private:
    ~TrayControl() override;

    HRESULT PutIcon(DISPPARAMS* params, UINT* arg_err) noexcept;
    HRESULT ShowIcon() noexcept;
    bool AddIcon() noexcept;
    void RemoveIcon() noexcept;
    void RaiseActivated(UINT message) noexcept;

    friend class OwnerWindow;
    LRESULT HandleOwnerMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

    std::shared_ptr<NotifyShell> shell_;
    nj::com::ConnectionPoint events_;
    OwnerWindow owner_;
    nj::unique_hicon icon_;
    bool wanted_ = false;  // ShowIcon was called: the icon should be up
    bool shown_ = false;   // the shell has the icon
    UINT taskbar_created_ = 0;
};

HRESULT OwnerWindow::Create() noexcept
{
    // Top-level, not message-only: the shell's TaskbarCreated broadcast reaches top-level windows only.
    return nj::Window<OwnerWindow>::Create(
        nj::WindowParams::TopLevel(kOwnerTitle, WS_POPUP, WS_EX_TOOLWINDOW, {0, 0}, {0, 0}));
}

LRESULT OwnerWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    return control_.HandleOwnerMessage(message, wparam, lparam);
}

HRESULT TrayControl::Initialize() noexcept
{
    taskbar_created_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    return owner_.Create();
}

// The icon goes before the window that owns it; the window goes with its
// member, unbound, so no message reaches the control on its way out.
TrayControl::~TrayControl() { RemoveIcon(); }

IFACEMETHODIMP TrayControl::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_err)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    if (result) ::VariantInit(result);
    switch (dispid) {
    case kDispIcon:
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return PutIcon(params, arg_err);
        if (flags & DISPATCH_PROPERTYGET) {
            RETURN_HR_IF_NULL(E_POINTER, result);
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(reinterpret_cast<INT_PTR>(icon_.get()));
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    case kDispShowIcon:
        RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !(flags & DISPATCH_METHOD));
        RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params && params->cArgs != 0);
        return ShowIcon();
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT TrayControl::PutIcon(DISPPARAMS* params, UINT* arg_err) noexcept
{
    RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params == nullptr || params->cArgs != 1);
    nj::unique_variant handle;
    if (FAILED(::VariantChangeType(&handle, &params->rgvarg[0], 0, VT_I4))) {
        if (arg_err) *arg_err = 0;
        return DISP_E_TYPEMISMATCH;
    }
    const auto icon = reinterpret_cast<HICON>(static_cast<INT_PTR>(handle.lVal));
    nj::unique_hicon copy;
    if (icon != nullptr) {
        copy.reset(::CopyIcon(icon));
        RETURN_LAST_ERROR_IF_NULL(copy.get());
    }
    icon_ = std::move(copy);
    if (shown_) {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = owner_.Handle();
        data.uID = kIconId;
        data.uFlags = NIF_ICON;
        data.hIcon = icon_.get();
        shell_->Modify(data);
    }
    return S_OK;
}

HRESULT TrayControl::ShowIcon() noexcept
{
    // Without a running shell the icon waits for its "TaskbarCreated".
    wanted_ = true;
    if (!shown_) AddIcon();
    return S_OK;
}

bool TrayControl::AddIcon() noexcept
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner_.Handle();
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = icon_.get();
    lstrcpynW(data.szTip, L"Nightjar", ARRAYSIZE(data.szTip));
    if (!shell_->Add(data)) return false;
    data.uVersion = NOTIFYICON_VERSION_4;
    shell_->SetVersion(data);
    shown_ = true;
    return true;
}

void TrayControl::RemoveIcon() noexcept
{
    if (!shown_) return;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner_.Handle();
    data.uID = kIconId;
    shell_->Delete(data);
    shown_ = false;
}

void TrayControl::RaiseActivated(UINT message) noexcept
{
    // A sink may let go of the control from inside its handler.
    ComPtr<IDispatch> keep_alive(this);
    VARIANT argument{};
    argument.vt = VT_I4;
    argument.lVal = static_cast<LONG>(message);
    DISPPARAMS params{&argument, nullptr, 1, 0};
    events_.Fire(kDispActivated, params);
}

IFACEMETHODIMP TrayControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    return nj::com::EnumConnectionPoints(points);
}

IFACEMETHODIMP TrayControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    return nj::com::FindConnectionPoint(events_, riid, point);
}

LRESULT TrayControl::HandleOwnerMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    if (message == taskbar_created_ && taskbar_created_ != 0) {
        // The shell restarted and forgot every icon.
        shown_ = false;
        if (wanted_) AddIcon();
        return 0;
    }
    switch (message) {
    case kCallbackMessage:
        // Version 4: the notification is in the low word of lParam.
        switch (LOWORD(lparam)) {
        case NIN_SELECT:
        case NIN_KEYSELECT:
            RaiseActivated(LOWORD(lparam));
            break;
        default:
            break;
        }
        return 0;
    default:
        return ::DefWindowProcW(owner_.Handle(), message, wparam, lparam);
    }
}

}  // namespace

HRESULT CreateTrayControl(REFIID riid, void** ppv) noexcept
{
    try {
        return CreateTrayControl(std::make_shared<SystemNotifyShell>(), riid, ppv);
    }
    NJ_CATCH_RETURN()
}

HRESULT CreateTrayControl(std::shared_ptr<NotifyShell> shell, REFIID riid, void** ppv) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    RETURN_HR_IF(E_INVALIDARG, shell == nullptr);
    return nj::com::CreateInstance<TrayControl>(riid, ppv, std::move(shell));
}

}  // namespace nightjar::tray
