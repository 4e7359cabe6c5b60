// The owning wrappers: which value is empty, what put() and moves close.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "nj/unique.h"

namespace nj {
namespace {

bool IsOpen(HANDLE handle)
{
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

TEST(UniqueHandle, FilesAreEmptyAtInvalidHandleValueEverythingElseAtNull)
{
    const unique_hfile no_file;
    EXPECT_EQ(no_file.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(no_file);
    const unique_handle no_event;
    EXPECT_EQ(no_event.get(), nullptr);
    EXPECT_FALSE(no_event);

    // What each API returns on failure reads as empty in its own wrapper.
    const unique_hfile missing(::CreateFileW(L"C:\\no\\such\\dir\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(missing);
    const unique_handle no_mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"nightjar-test-no-such-mutex"));
    EXPECT_FALSE(no_mutex);
}

TEST(UniqueHandle, PutClosesWhatWasHeldBeforeHandingOutTheSlot)
{
    unique_handle event(NewEvent());
    const HANDLE first = event.get();
    ASSERT_TRUE(IsOpen(first));
    HANDLE* slot = event.put();
    EXPECT_FALSE(IsOpen(first));
    EXPECT_EQ(*slot, nullptr);
    *slot = NewEvent();
    EXPECT_TRUE(event);
    EXPECT_TRUE(IsOpen(event.get()));

    unique_hfile file;
    EXPECT_EQ(*file.put(), INVALID_HANDLE_VALUE);  // reset to its own empty value
}

TEST(UniqueHandle, MovesTransferOwnershipAndAssignmentClosesTheTarget)
{
    unique_handle a(NewEvent());
    const HANDLE held = a.get();
    unique_handle b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT: moved-from is empty by contract
    EXPECT_EQ(b.get(), held);

    unique_handle c(NewEvent());
    const HANDLE replaced = c.get();
    c = std::move(b);
    EXPECT_FALSE(IsOpen(replaced));
    EXPECT_EQ(c.get(), held);
    EXPECT_TRUE(IsOpen(held));

    auto& same = c;
    c = std::move(same);  // self-move keeps the handle
    EXPECT_TRUE(IsOpen(held));

    const HANDLE released = c.release();
    EXPECT_FALSE(c);
    EXPECT_TRUE(IsOpen(released));
    ::CloseHandle(released);
}

TEST(UniqueHandle, ScopeEndAndResetClose)
{
    HANDLE held = nullptr;
    {
        const unique_handle event(NewEvent());
        held = event.get();
        ASSERT_TRUE(IsOpen(held));
    }
    EXPECT_FALSE(IsOpen(held));

    unique_handle event(NewEvent());
    held = event.get();
    event.reset(NewEvent());
    EXPECT_FALSE(IsOpen(held));
    EXPECT_TRUE(event);
}

TEST(ScopeExit, RunsOnceUnlessDismissed)
{
    int runs = 0;
    {
        scope_exit count([&] { ++runs; });
    }
    {
        scope_exit count([&] { ++runs; });
        count.dismiss();
    }
    EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace nj
