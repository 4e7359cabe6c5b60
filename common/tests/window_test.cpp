// The window base: who answers which message, and when the window and its
// class go.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "nj/window_base.h"

namespace nj {
namespace {

// Outlives the windows, so messages can be counted after an object is gone.
struct Journal {
    std::vector<UINT> messages;
    int after_destructor = 0;  // handler calls once the derived destructor ran
    bool dying = false;
    bool Saw(UINT message) const
    {
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
};

class Probe final : public Window<Probe> {
public:
    static constexpr wchar_t kClassName[] = L"NightjarTestProbe";
    static constexpr UINT kPing = WM_APP + 7;

    explicit Probe(Journal& journal) noexcept : journal_(journal) {}
    ~Probe() { journal_.dying = true; }

    using Window<Probe>::Create;
    using Window<Probe>::Destroy;

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
    {
        if (journal_.dying) ++journal_.after_destructor;
        journal_.messages.push_back(message);
        if (message == kPing) return 42;
        return DefaultHandling(message, wparam, lparam);
    }

private:
    Journal& journal_;
};

bool ClassRegistered()
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    return ::GetClassInfoExW(CurrentModule(), Probe::kClassName, &wc) != FALSE;
}

HRESULT CreateShown(Probe& probe)
{
    return probe.Create(WindowParams::TopLevel(L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, {10, 10}, {200, 100}));
}

TEST(WindowBase, CreationReachesTheObjectFromItsFirstMessages)
{
    Journal journal;
    Probe probe(journal);
    ASSERT_EQ(CreateShown(probe), S_OK);
    EXPECT_TRUE(journal.Saw(WM_NCCREATE));
    EXPECT_TRUE(journal.Saw(WM_CREATE));
    EXPECT_EQ(::SendMessageW(probe.Handle(), Probe::kPing, 0, 0), 42);
}

TEST(WindowBase, TheDestructorDestroysTheWindowWithNoHandlerRunning)
{
    Journal journal;
    HWND hwnd = nullptr;
    {
        Probe probe(journal);
        ASSERT_EQ(CreateShown(probe), S_OK);
        hwnd = probe.Handle();
        ASSERT_TRUE(::IsWindow(hwnd));
    }
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_EQ(journal.after_destructor, 0);
    EXPECT_FALSE(journal.Saw(WM_DESTROY));
}

TEST(WindowBase, AnExplicitDestroyStillReachesTheHandlers)
{
    Journal journal;
    Probe probe(journal);
    ASSERT_EQ(CreateShown(probe), S_OK);
    const HWND hwnd = probe.Handle();
    probe.Destroy();
    EXPECT_TRUE(journal.Saw(WM_DESTROY));
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_EQ(probe.Handle(), nullptr);

    // A window gone by someone else's hand leaves the object empty too.
    ASSERT_EQ(CreateShown(probe), S_OK);
    ::DestroyWindow(probe.Handle());
    EXPECT_EQ(probe.Handle(), nullptr);
}

TEST(WindowBase, OneWindowPerObject)
{
    Journal journal;
    Probe probe(journal);
    ASSERT_EQ(CreateShown(probe), S_OK);
    const HWND first = probe.Handle();
    EXPECT_EQ(CreateShown(probe), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(probe.Handle(), first);
}

TEST(WindowBase, TheClassGoesWithTheLastObject)
{
    Journal journal;
    EXPECT_FALSE(ClassRegistered());
    auto first = std::make_unique<Probe>(journal);
    auto second = std::make_unique<Probe>(journal);
    ASSERT_EQ(CreateShown(*first), S_OK);
    ASSERT_EQ(CreateShown(*second), S_OK);
    EXPECT_TRUE(ClassRegistered());
    first.reset();
    EXPECT_TRUE(ClassRegistered());
    second.reset();
    EXPECT_FALSE(ClassRegistered());

    Probe again(journal);  // and comes back for the next
    EXPECT_EQ(CreateShown(again), S_OK);
}

TEST(WindowBase, AMessageOnlyWindowHangsOffTheMessageParentAndAnswers)
{
    Journal journal;
    Probe probe(journal);
    ASSERT_EQ(probe.Create(WindowParams::MessageOnly()), S_OK);
    // Wine's FindWindow sees message-only windows too; the parent tells.
    EXPECT_NE(::GetAncestor(probe.Handle(), GA_PARENT), ::GetDesktopWindow());
    EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, nullptr, Probe::kClassName, nullptr), probe.Handle());
    EXPECT_EQ(::SendMessageW(probe.Handle(), Probe::kPing, 0, 0), 42);
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(probe.Handle(), GWLP_HINSTANCE)), CurrentModule());
}

TEST(WindowBase, AChildSitsInItsParentUnderItsId)
{
    Journal journal;
    Probe parent(journal), child(journal);
    ASSERT_EQ(CreateShown(parent), S_OK);
    ASSERT_EQ(child.Create(WindowParams::Child(parent.Handle(), 42, WS_VISIBLE, RECT{5, 6, 65, 36})), S_OK);
    EXPECT_EQ(::GetParent(child.Handle()), parent.Handle());
    EXPECT_EQ(::GetDlgItem(parent.Handle(), 42), child.Handle());
    RECT r{};
    ::GetWindowRect(child.Handle(), &r);
    ::MapWindowPoints(nullptr, parent.Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.top, 6);
    EXPECT_EQ(r.right - r.left, 60);
    EXPECT_EQ(r.bottom - r.top, 30);

    // The parent going first takes the child with it; the child's object
    // is left empty, not dangling.
    parent.Destroy();
    EXPECT_EQ(child.Handle(), nullptr);
}

}  // namespace
}  // namespace nj
