#include "tray_control.h"

#include <ocidl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "nj/com_object.h"
#include "nj/unique.h"

namespace nightjar::tray {
namespace {

using Microsoft::WRL::ComPtr;

// Records every event the control raises.
class EventLog final : public nj::com::UntypedDispatch<IDispatch> {
public:
    std::vector<std::pair<DISPID, LONG>> events;

    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                          UINT*) override
    {
        EXPECT_EQ(params->cArgs, 1U) << "every event carries one argument";
        events.emplace_back(dispid, params->cArgs == 1 ? params->rgvarg[0].lVal : -1);
        return S_OK;
    }
};

HWND OwnerWindow() { return ::FindWindowW(kOwnerClass, kOwnerTitle); }

// Whether the shell holds an icon for (owner, kIconId): only an existing icon
// can be modified, and naming no field leaves it as it is.
bool ShellHasIcon(HWND owner)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = kIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void PumpMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

struct TrayTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(Create(), S_OK);
        icon.reset(::CopyIcon(::LoadIconW(nullptr, MAKEINTRESOURCEW(32516))));  // IDI_INFORMATION
        ASSERT_TRUE(icon);
        owner = OwnerWindow();
        ASSERT_NE(owner, nullptr);
    }
    virtual HRESULT Create() { return CreateTrayControl(IID_PPV_ARGS(&control)); }

    HRESULT Put(DISPID dispid, VARIANT value)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                               nullptr, nullptr);
    }
    HRESULT Call(DISPID dispid)
    {
        DISPPARAMS none{};
        return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                               nullptr);
    }
    HRESULT ShowIcon()
    {
        VARIANT handle{};
        handle.vt = VT_I4;
        handle.lVal = static_cast<LONG>(reinterpret_cast<INT_PTR>(icon.get()));
        const HRESULT hr = Put(kDispIcon, handle);
        if (FAILED(hr)) return hr;
        return Call(kDispShowIcon);
    }
    DWORD Connect(IDispatch* log)
    {
        ComPtr<IConnectionPointContainer> points;
        EXPECT_EQ(control.As(&points), S_OK);
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(points->FindConnectionPoint(DIID_TrayEvents, &point), S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(log, &cookie), S_OK);
        return cookie;
    }

    ComPtr<IDispatch> control;
    nj::unique_hicon icon;
    HWND owner = nullptr;
};

TEST_F(TrayTest, OwnerIsAHiddenTopLevelWindowAndNoIconIsShownBeforeTheCall)
{
    EXPECT_FALSE(::IsWindowVisible(owner));
    EXPECT_EQ(::GetParent(owner), nullptr);
    EXPECT_FALSE(ShellHasIcon(owner));
}

TEST_F(TrayTest, ShowIconPutsTheIconUpAndReleasingTheControlTakesItAway)
{
    ASSERT_EQ(ShowIcon(), S_OK);
    EXPECT_TRUE(ShellHasIcon(owner));
    EXPECT_EQ(ShowIcon(), S_OK);
    EXPECT_TRUE(ShellHasIcon(owner));

    EXPECT_EQ(control.Reset(), 0U);
    EXPECT_FALSE(::IsWindow(owner));
    EXPECT_FALSE(ShellHasIcon(owner));
}

TEST_F(TrayTest, TheIconPropertyKeepsItsOwnCopy)
{
    ASSERT_EQ(ShowIcon(), S_OK);
    icon.reset();  // the host's handle goes away; the control's copy stays
    VARIANT value{};
    DISPPARAMS none{};
    ASSERT_EQ(control->Invoke(kDispIcon, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(reinterpret_cast<HICON>(static_cast<INT_PTR>(value.lVal)), &info));
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
}

TEST_F(TrayTest, SelectingTheIconRaisesTheFirstEventOnceAndOtherMouseTrafficNothing)
{
    auto log = nj::com::Make<EventLog>();
    Connect(log.Get());
    ASSERT_EQ(ShowIcon(), S_OK);

    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(WM_MOUSEMOVE, kIconId));
    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(WM_LBUTTONDOWN, kIconId));
    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(WM_LBUTTONUP, kIconId));
    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(NIN_SELECT, kIconId));
    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(NIN_KEYSELECT, kIconId));
    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(WM_CONTEXTMENU, kIconId));

    ASSERT_EQ(log->events.size(), 2U);
    EXPECT_EQ(log->events[0], std::make_pair(DISPID{kDispActivated}, LONG{NIN_SELECT}));
    EXPECT_EQ(log->events[1], std::make_pair(DISPID{kDispActivated}, LONG{NIN_KEYSELECT}));
}

TEST_F(TrayTest, ASinkThatReleasesTheControlFromItsHandlerIsSafe)
{
    struct Dropper final : nj::com::UntypedDispatch<IDispatch> {
        ComPtr<IDispatch>* control = nullptr;
        IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
        IFACEMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
        {
            control->Reset();
            return S_OK;
        }
    };
    auto dropper = nj::com::Make<Dropper>();
    dropper->control = std::addressof(control);  // a ComPtr's & would release it
    Connect(dropper.Get());
    ASSERT_EQ(ShowIcon(), S_OK);
    ::SendMessageW(owner, kCallbackMessage, 0, MAKELPARAM(NIN_SELECT, kIconId));
    PumpMessages();
    EXPECT_FALSE(control);
    EXPECT_FALSE(::IsWindow(owner));
    EXPECT_FALSE(ShellHasIcon(owner));
}

TEST_F(TrayTest, ARestartedShellGetsTheIconBack)
{
    ASSERT_EQ(ShowIcon(), S_OK);
    // The shell forgets the icon as a restarted one would, then announces itself.
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = kIconId;
    ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &data));
    ASSERT_FALSE(ShellHasIcon(owner));

    ::SendMessageW(owner, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ShellHasIcon(owner));
}

TEST_F(TrayTest, ATaskbarRestartBeforeShowIconAddsNothing)
{
    ::SendMessageW(owner, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_FALSE(ShellHasIcon(owner));
}

TEST_F(TrayTest, BadCallsAreRefusedWithTheirAutomationErrors)
{
    EXPECT_EQ(Call(0x60030001), DISP_E_MEMBERNOTFOUND);
    VARIANT text{};
    text.vt = VT_BSTR;
    text.bstrVal = ::SysAllocString(L"not an icon");
    EXPECT_EQ(Put(kDispIcon, text), DISP_E_TYPEMISMATCH);
    ::SysFreeString(text.bstrVal);
    DISPPARAMS none{};
    EXPECT_EQ(control->Invoke(kDispShowIcon, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_FALSE(ShellHasIcon(owner));
}

// A shell that records what it is asked and can refuse to add, as the
// system's does while no shell is running.
class RecordingShell final : public NotifyShell {
public:
    struct Call {
        char what;  // 'A'dd, 'V'ersion, 'M'odify, 'D'elete
        NOTIFYICONDATAW data;
    };
    std::vector<Call> calls;
    bool refuse_add = false;

    BOOL Add(NOTIFYICONDATAW& data) noexcept override { return Record('A', data) && !refuse_add; }
    BOOL SetVersion(NOTIFYICONDATAW& data) noexcept override { return Record('V', data); }
    BOOL Modify(NOTIFYICONDATAW& data) noexcept override { return Record('M', data); }
    BOOL Delete(NOTIFYICONDATAW& data) noexcept override { return Record('D', data); }

    std::string Sequence() const
    {
        std::string out;
        for (const auto& call : calls) out += call.what;
        return out;
    }

private:
    BOOL Record(char what, const NOTIFYICONDATAW& data) noexcept
    {
        calls.push_back({what, data});
        return TRUE;
    }
};

struct RecordedTrayTest : TrayTest {
    std::shared_ptr<RecordingShell> shell = std::make_shared<RecordingShell>();
    HRESULT Create() override { return CreateTrayControl(shell, IID_PPV_ARGS(&control)); }

    void SendTaskbarCreated() { ::SendMessageW(owner, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0); }
    void ExpectNamesOurIcon(const RecordingShell::Call& call)
    {
        EXPECT_EQ(call.data.cbSize, sizeof(NOTIFYICONDATAW));
        EXPECT_EQ(call.data.hWnd, owner);
        EXPECT_EQ(call.data.uID, kIconId);
    }
};

TEST_F(RecordedTrayTest, ShowIconAddsTheIconAtVersionFourOnceAndReleaseDeletesIt)
{
    EXPECT_EQ(shell->Sequence(), "");
    ASSERT_EQ(ShowIcon(), S_OK);
    ASSERT_EQ(shell->Sequence(), "AV");
    const auto& add = shell->calls[0].data;
    ExpectNamesOurIcon(shell->calls[0]);
    EXPECT_EQ(add.uFlags, UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP});
    EXPECT_EQ(add.uCallbackMessage, kCallbackMessage);
    EXPECT_NE(add.hIcon, nullptr);
    EXPECT_NE(add.hIcon, icon.get()) << "the shell is given the control's own copy";
    EXPECT_STREQ(add.szTip, L"Nightjar");
    ExpectNamesOurIcon(shell->calls[1]);
    EXPECT_EQ(shell->calls[1].data.uVersion, UINT{NOTIFYICON_VERSION_4});

    EXPECT_EQ(Call(kDispShowIcon), S_OK);
    EXPECT_EQ(shell->Sequence(), "AV") << "a second ShowIcon adds nothing";

    EXPECT_EQ(control.Reset(), 0U);
    ASSERT_EQ(shell->Sequence(), "AVD");
    ExpectNamesOurIcon(shell->calls[2]);
}

TEST_F(RecordedTrayTest, ANewIconWhileShownModifiesOnlyTheImage)
{
    ASSERT_EQ(ShowIcon(), S_OK);
    VARIANT none{};
    none.vt = VT_I4;
    ASSERT_EQ(Put(kDispIcon, none), S_OK);
    ASSERT_EQ(shell->Sequence(), "AVM");
    ExpectNamesOurIcon(shell->calls[2]);
    EXPECT_EQ(shell->calls[2].data.uFlags, UINT{NIF_ICON});
    EXPECT_EQ(shell->calls[2].data.hIcon, nullptr);
}

TEST_F(RecordedTrayTest, TheTaskbarComingBackReAddsAShownIconAndNoOther)
{
    SendTaskbarCreated();
    EXPECT_EQ(shell->Sequence(), "") << "no icon was asked for yet";
    ASSERT_EQ(ShowIcon(), S_OK);
    SendTaskbarCreated();
    ASSERT_EQ(shell->Sequence(), "AVAV");
    ExpectNamesOurIcon(shell->calls[2]);
    EXPECT_EQ(shell->calls[2].data.uCallbackMessage, kCallbackMessage);
}

TEST_F(RecordedTrayTest, ShowIconBeforeAnyShellSucceedsAndTheIconArrivesWithTheTaskbar)
{
    shell->refuse_add = true;
    ASSERT_EQ(ShowIcon(), S_OK);
    EXPECT_EQ(shell->Sequence(), "A") << "a refused icon is given no version";
    EXPECT_EQ(Call(kDispShowIcon), S_OK);
    EXPECT_EQ(shell->Sequence(), "AA") << "a second ShowIcon tries again";

    shell->refuse_add = false;
    SendTaskbarCreated();
    EXPECT_EQ(shell->Sequence(), "AAAV");
    EXPECT_EQ(control.Reset(), 0U);
    EXPECT_EQ(shell->Sequence(), "AAAVD");
}

TEST_F(RecordedTrayTest, AnIconTheShellNeverTookIsNotDeleted)
{
    shell->refuse_add = true;
    ASSERT_EQ(ShowIcon(), S_OK);
    VARIANT none{};
    none.vt = VT_I4;
    ASSERT_EQ(Put(kDispIcon, none), S_OK);
    EXPECT_EQ(control.Reset(), 0U);
    EXPECT_EQ(shell->Sequence(), "A");
}

TEST(TrayCreation, AMissingShellIsRefused)
{
    ComPtr<IDispatch> control;
    EXPECT_EQ(CreateTrayControl(nullptr, IID_PPV_ARGS(&control)), E_INVALIDARG);
    EXPECT_FALSE(control);
}

}  // namespace
}  // namespace nightjar::tray

int main(int argc, char** argv)
{
    const auto com = nj::CoInitializeApartment();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
