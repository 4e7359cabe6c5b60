// The main window's building blocks under Wine: the kept track record, the
// event plumbing from Plavox, the container's ambient properties, the
// port chooser laid out in twips.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control_host.h"
#include "nj/layout.h"
#include "set_port_window.h"
#include "track_record.h"

namespace nightjar::app {
using namespace nj::layout;

namespace {

plavox::TrackDetail FullDetail()
{
    plavox::TrackDetail d{};
    d.Title = ::SysAllocString(L"Some Song");
    d.Artist = ::SysAllocString(L"Some Artist");
    d.TrackNumber = ::SysAllocString(L"12");
    d.Status = plavox::Paused;
    d.Freq = ::SysAllocString(L"44");
    d.Rate = ::SysAllocString(L"192");
    d.Length = 245;
    d.CurrentPos = ::SysAllocString(L"1500");
    return d;
}

void FreeDetail(plavox::TrackDetail& d)
{
    for (BSTR s : {d.Title, d.Artist, d.TrackNumber, d.Freq, d.Rate, d.CurrentPos}) ::SysFreeString(s);
    d = {};
}

std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : L"(null)"; }

TEST(TrackRecord, CopiesAllEightFieldsWithTheirOwnStrings)
{
    plavox::TrackDetail source = FullDetail();
    TrackRecord kept(source);
    const plavox::TrackDetail& d = kept.Detail();
    BSTR fields[] = {d.Title, d.Artist, d.TrackNumber, d.Freq, d.Rate, d.CurrentPos};
    BSTR originals[] = {source.Title, source.Artist, source.TrackNumber, source.Freq, source.Rate, source.CurrentPos};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(fields[i], originals[i]) << "field " << i << " shares the control's string";
        EXPECT_EQ(Text(fields[i]), Text(originals[i]));
    }
    EXPECT_EQ(d.Status, plavox::Paused);
    EXPECT_EQ(d.Length, 245);

    FreeDetail(source);  // the control reuses its record: the copy must not care
    EXPECT_EQ(kept.Title(), u"Some Song");
    EXPECT_EQ(kept.Artist(), u"Some Artist");
}

TEST(TrackRecord, CopiesAreIndependentAndUnsetStringsReadEmpty)
{
    TrackRecord empty;
    EXPECT_EQ(empty.Title(), u"");
    EXPECT_EQ(empty.Artist(), u"");

    plavox::TrackDetail source = FullDetail();
    TrackRecord a(source);
    FreeDetail(source);
    TrackRecord b = a;
    EXPECT_NE(b.Detail().Title, a.Detail().Title);
    a = TrackRecord();
    EXPECT_EQ(a.Title(), u"");
    EXPECT_EQ(b.Title(), u"Some Song");
    TrackRecord c = std::move(b);
    EXPECT_EQ(c.Title(), u"Some Song");
    c = c;  // NOLINT: self-assignment keeps the record
    EXPECT_EQ(c.Title(), u"Some Song");
}

TEST(TrackRecord, TitlesWithEmbeddedNullsAndCaseCompareByEveryCode)
{
    plavox::TrackDetail source{};
    source.Title = ::SysAllocStringLen(L"a\0b", 3);
    TrackRecord kept(source);
    EXPECT_EQ(kept.Title(), std::u16string_view(u"a\0b", 3));
    ::SysFreeString(source.Title);
}

struct PlavoxEventTest : ::testing::Test {
    plavox::TrackDetail detail = FullDetail();
    std::vector<std::u16string> titles;
    std::function<void(const plavox::TrackDetail&)> on_track = [this](const plavox::TrackDetail& d) {
        titles.emplace_back(TrackRecord(d).Title());
    };
    ~PlavoxEventTest() override { FreeDetail(detail); }

    HRESULT Raise(DISPID dispid, VARIANT* args, UINT count)
    {
        DISPPARAMS params{args, nullptr, count, 0};
        return HandlePlavoxEvent(dispid, params, on_track);
    }
};

TEST_F(PlavoxEventTest, TrackChangedDeliversTheRecordPassedByReference)
{
    VARIANT arg{};
    arg.vt = VT_RECORD | VT_BYREF;
    arg.pvRecord = &detail;
    EXPECT_EQ(Raise(plavox::DISPID_TrackChanged, &arg, 1), S_OK);

    VARIANT inner = arg;  // the same record wrapped in a VARIANT by reference
    VARIANT wrapped{};
    wrapped.vt = VT_VARIANT | VT_BYREF;
    wrapped.pvarVal = &inner;
    EXPECT_EQ(Raise(plavox::DISPID_TrackChanged, &wrapped, 1), S_OK);

    ASSERT_EQ(titles.size(), 2U);
    EXPECT_EQ(titles[0], u"Some Song");
    EXPECT_EQ(titles[1], u"Some Song");
}

TEST_F(PlavoxEventTest, OtherEventsAreIgnoredAndMalformedOnesRefused)
{
    LONG seconds = 3;
    VARIANT position{};
    position.vt = VT_I4 | VT_BYREF;
    position.plVal = &seconds;
    EXPECT_EQ(Raise(plavox::DISPID_PlayPositionChanged, &position, 1), S_OK);
    EXPECT_EQ(Raise(77, nullptr, 0), S_OK);

    EXPECT_EQ(Raise(plavox::DISPID_TrackChanged, &position, 1), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Raise(plavox::DISPID_TrackChanged, nullptr, 0), DISP_E_BADPARAMCOUNT);
    VARIANT null_wrap{};
    null_wrap.vt = VT_VARIANT | VT_BYREF;
    EXPECT_EQ(Raise(plavox::DISPID_TrackChanged, &null_wrap, 1), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(titles.empty());
}

TEST(ControlSite, TellsTheControlThatTheProgramRuns)
{
    auto site = nj::com::Make<ControlSite>(nullptr);
    ComPtr<IDispatch> ambient;
    ASSERT_EQ(site.As(&ambient), S_OK);
    DISPPARAMS none{};
    VARIANT value{};
    ASSERT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                              nullptr),
              S_OK);
    EXPECT_EQ(value.vt, VT_BOOL);
    EXPECT_EQ(value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_BACKCOLOR, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                              nullptr),
              DISP_E_MEMBERNOTFOUND);
    ComPtr<IOleClientSite> client;
    ComPtr<IOleControlSite> control;
    EXPECT_EQ(site.As(&client), S_OK);
    EXPECT_EQ(site.As(&control), S_OK);
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t buffer[256] = {};
    ::GetWindowTextW(hwnd, buffer, 256);
    return buffer;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t buffer[64] = {};
    ::GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

struct ChooserTest : ::testing::Test {
    void SetUp() override
    {
        owner.reset(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
        icon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
        ASSERT_EQ(chooser.Create(owner.get(), icon, [this](int index) { clicks.push_back(index); }), S_OK);
        dpi = SystemDpi();
    }
    void Pump()
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            ::DispatchMessageW(&msg);
        }
    }
    nj::unique_hwnd owner;
    HICON icon = nullptr;
    SetPortWindow chooser;
    std::vector<int> clicks;
    bool quit = false;
    int dpi = 96;
};

TEST_F(ChooserTest, IsAFixedDialogOutOfTheTaskbarCentredWithItsClientSize)
{
    HWND w = chooser.Handle();
    EXPECT_EQ(WindowText(w), L"Set Link Port:");
    const LONG style = ::GetWindowLongW(w, GWL_STYLE);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(::GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(::GetWindow(w, GW_OWNER), owner.get());  // owned windows get no taskbar button

    RECT client{};
    ::GetClientRect(w, &client);
    EXPECT_EQ(client.right, TwipsToPixels(3255, dpi));
    EXPECT_EQ(client.bottom, TwipsToPixels(1095, dpi));
    RECT frame{};
    ::GetWindowRect(w, &frame);
    EXPECT_LE(std::abs((frame.left + frame.right) / 2 - ::GetSystemMetrics(SM_CXSCREEN) / 2), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) / 2 - ::GetSystemMetrics(SM_CYSCREEN) / 2), 1);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(w, WM_GETICON, ICON_BIG, 0)), icon);
}

TEST_F(ChooserTest, ButtonsAndLabelAreStandardControlsInTabOrder)
{
    HWND w = chooser.Handle();
    std::vector<HWND> children;
    for (HWND c = ::GetWindow(w, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    ASSERT_EQ(children.size(), 5U);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ClassOf(children[i]), L"Button");
        EXPECT_EQ(WindowText(children[i]), std::wstring(1, static_cast<wchar_t>(L'1' + i)));
        RECT r{};
        ::GetWindowRect(children[i], &r);
        ::MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
        const RECT want = ToPixels({240 + 720 * i, 480, 615, 495}, dpi);
        EXPECT_EQ(r.left, want.left);
        EXPECT_EQ(r.top, want.top);
        EXPECT_EQ(r.right, want.right);
        EXPECT_EQ(r.bottom, want.bottom);
        LOGFONTW lf{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(children[i], WM_GETFONT, 0, 0)), sizeof(lf), &lf);
        EXPECT_STREQ(lf.lfFaceName, L"Verdana");
    }
    EXPECT_EQ(ClassOf(children[4]), L"Static");
    EXPECT_EQ(WindowText(children[4]), L"Which serial port is your TI attached to?");
    LOGFONTW lf{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(children[4], WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");

    // Tab walks the buttons left to right and wraps.
    HWND next = children[0];
    for (int i = 1; i <= 4; ++i) {
        next = ::GetNextDlgTabItem(w, next, FALSE);
        EXPECT_EQ(next, children[i % 4]);
    }
}

TEST_F(ChooserTest, EachButtonReportsItsOwnIndex)
{
    chooser.Show();
    for (int i = 3; i >= 0; --i) ::SendMessageW(::GetDlgItem(chooser.Handle(), SetPortWindow::kFirstButtonId + i), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_TRUE(::IsWindow(chooser.Handle()));  // a click does not close the chooser by itself
}

TEST_F(ChooserTest, ClosingEndsTheProgramWithoutAClick)
{
    HWND w = chooser.Handle();
    ::SendMessageW(w, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(::IsWindow(w));
    EXPECT_TRUE(quit);
    EXPECT_TRUE(clicks.empty());
}

TEST_F(ChooserTest, UnloadClosesItQuietly)
{
    HWND w = chooser.Handle();
    chooser.Unload();
    Pump();
    EXPECT_FALSE(::IsWindow(w));
    EXPECT_FALSE(quit);
}

}  // namespace
}  // namespace nightjar::app

int main(int argc, char** argv)
{
    const auto com = nj::CoInitializeApartment();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
