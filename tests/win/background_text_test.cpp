// A text gathered on a thread of its own: only the job under way hands its text over, and a
// job that failed or still runs is told apart by its thread.
#include "tests/support/process.h"
#include "ui/BackgroundText.h"

#include <gtest/gtest.h>

#include <new>

namespace {

using namespace testing_support;

constexpr UINT kReady = WM_APP + 10;

// The number that came with the next kReady posted to `window`; 0 when none came in time.
WPARAM NextReady(HWND window) {
    MSG msg = {};
    WaitFor([&] { return ::PeekMessageA(&msg, window, kReady, kReady, PM_REMOVE) != FALSE; });
    return msg.message == kReady ? msg.wParam : 0;
}

TEST(BackgroundText, OnlyTheCurrentJobHandsItsTextOverAndAFailedOneDoesNotBlockTheNext) {
    const HWND window =
        ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ui::BackgroundText background;

    // Gathering that fails: no message, and the next start is not refused.
    ASSERT_TRUE(background.Start(window, kReady, []() -> std::string { throw std::bad_alloc(); }));
    ASSERT_TRUE(WaitFor([&] { return !background.Running(); }));

    // While a job runs, another is refused, and nothing is handed over early.
    ui::Handle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE event = release.get();
    ASSERT_TRUE(background.Start(window, kReady, [event] {
        ::WaitForSingleObject(event, INFINITE);
        return std::string("who is behind");
    }));
    EXPECT_TRUE(background.Running());
    EXPECT_FALSE(background.Start(window, kReady, [] { return std::string("second"); }));
    for (WPARAM number = 0; number < 4; ++number)
        EXPECT_FALSE(background.Take(number).has_value()) << number;

    ::SetEvent(event);
    const WPARAM number = NextReady(window);
    ASSERT_NE(number, 0u);
    EXPECT_FALSE(background.Take(number + 1).has_value());
    EXPECT_EQ(background.Take(number).value_or("(none)"), "who is behind");
    // Handed over once only.
    EXPECT_FALSE(background.Take(number).has_value());

    // The next job has a number of its own: the last job's, posted again, is nobody's.
    ASSERT_TRUE(WaitFor([&] { return !background.Running(); }));
    ASSERT_TRUE(background.Start(window, kReady, [] { return std::string("again"); }));
    const WPARAM next = NextReady(window);
    EXPECT_NE(next, number);
    EXPECT_FALSE(background.Take(number).has_value());
    EXPECT_EQ(background.Take(next).value_or("(none)"), "again");
    ::DestroyWindow(window);
}

} // namespace
