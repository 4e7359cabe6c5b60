// Laying out controls at a DPI, and the module handle they are made with.
#include <gtest/gtest.h>

#include "nj/layout.h"
#include "nj/module.h"

namespace nj::layout {
namespace {

TEST(Layout, TwipsPixelsAndPointsFollowTheDpi)
{
    EXPECT_EQ(TwipsToPixels(1440, 96), 96);
    EXPECT_EQ(TwipsToPixels(3255, 96), 217);
    EXPECT_EQ(TwipsToPixels(3255, 120), 271);
    EXPECT_EQ(ScaleFrom96(260, 96), 260);
    EXPECT_EQ(ScaleFrom96(260, 144), 390);
    const RECT r = ToPixels({240, 480, 615, 495}, 96);
    EXPECT_EQ(r.left, 16);
    EXPECT_EQ(r.top, 32);
    EXPECT_EQ(r.right - r.left, 41);
    EXPECT_EQ(r.bottom - r.top, 33);

    struct Case {
        int centipoints, dpi;
        LONG height;
    } cases[] = {{825, 96, -11}, {675, 96, -9}, {825, 120, -14}, {675, 120, -11}, {825, 144, -17}, {1100, 96, -15}};
    for (const auto& c : cases) {
        const auto font = MakeFont(L"Tahoma", c.centipoints, false, c.dpi);
        LOGFONTW lf{};
        ASSERT_TRUE(::GetObjectW(font.get(), sizeof(lf), &lf));
        EXPECT_EQ(lf.lfHeight, c.height) << c.centipoints << " at " << c.dpi;
    }
    const auto bold = MakeFont(L"Tahoma", 825, true, 96);
    LOGFONTW lf{};
    ASSERT_TRUE(::GetObjectW(bold.get(), sizeof(lf), &lf));
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
    EXPECT_GT(SystemDpi(), 0);
}

TEST(Layout, ChildrenSitWhereAskedInTheirFontAndAnswerToTheirId)
{
    constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
    const SIZE outer = WindowSizeForClient(300, 200, kStyle, 0);
    unique_hwnd parent(::CreateWindowExW(0, L"STATIC", L"parent", kStyle, 0, 0, outer.cx, outer.cy, nullptr, nullptr,
                                         CurrentModule(), nullptr));
    ASSERT_TRUE(parent);
    RECT client{};
    ::GetClientRect(parent.get(), &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);

    const auto font = MakeFont(L"Tahoma", 825, false, 96);
    HWND edit = CreateChild(parent.get(), L"EDIT", L"text", ES_AUTOHSCROLL, RECT{5, 6, 65, 36}, font.get(), 7,
                            WS_EX_CLIENTEDGE);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(::GetDlgItem(parent.get(), 7), edit);
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(edit, WM_GETFONT, 0, 0)), font.get());
    EXPECT_TRUE(::GetWindowLongW(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_TRUE(::IsWindowVisible(edit) || !::IsWindowVisible(parent.get()));
    RECT at{};
    ::GetWindowRect(edit, &at);
    ::MapWindowPoints(nullptr, parent.get(), reinterpret_cast<POINT*>(&at), 2);
    EXPECT_EQ(at.left, 5);
    EXPECT_EQ(at.top, 6);
    EXPECT_EQ(at.right - at.left, 60);
    EXPECT_EQ(at.bottom - at.top, 30);

    HWND label = CreateChild(parent.get(), L"STATIC", L"label", SS_LEFT, TwipsRect{1440, 0, 720, 360}, 96, nullptr, 8);
    ::GetWindowRect(label, &at);
    ::MapWindowPoints(nullptr, parent.get(), reinterpret_cast<POINT*>(&at), 2);
    EXPECT_EQ(at.left, 96);
    EXPECT_EQ(at.right - at.left, 48);
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(label, GWLP_HINSTANCE)), CurrentModule());
}

TEST(Module, TheCurrentModuleIsTheImageThisCodeIsIn)
{
    // In a program, the image is the program's own.
    EXPECT_EQ(CurrentModule(), ::GetModuleHandleW(nullptr));
    HMODULE found = nullptr;
    ASSERT_TRUE(
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(&CurrentModule), &found));
    EXPECT_EQ(found, CurrentModule());
}

}  // namespace
}  // namespace nj::layout
