// The Run value, written and read through the real registry.
#include "app/RunValue.h"
#include "app/StartWithWindows.h"
#include "tests/support/run_key.h"
#include "ui/WinApp.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class StartWithWindows : public ::testing::Test {
protected:
    void SetUp() override { DeleteRunValue(); }
    void TearDown() override { DeleteRunValue(); }
};

TEST_F(StartWithWindows, TickingWritesTheProgramPathAndUntickingDeletesIt) {
    EXPECT_FALSE(app::IsStartWithWindowsSet());

    app::ApplyStartWithWindows(true);
    std::string data;
    unsigned long type = 0, size = 0;
    ASSERT_TRUE(ReadRunValue(&data, &type, &size));
    const std::string expected = app::RunValueData(ui::ModuleFileName());
    EXPECT_EQ(data, expected);
    EXPECT_EQ(type, static_cast<unsigned long>(REG_SZ));
    // The length of the path is written; the system adds the terminating zero it finds
    // right after the data, as Windows NT does.
    EXPECT_TRUE(size == expected.size() || size == expected.size() + 1) << size;
    EXPECT_TRUE(app::IsStartWithWindowsSet());

    app::ApplyStartWithWindows(false);
    EXPECT_FALSE(ReadRunValue());
    EXPECT_FALSE(app::IsStartWithWindowsSet());
    // Deleting what is not there is harmless.
    app::ApplyStartWithWindows(false);
    EXPECT_FALSE(ReadRunValue());
}

TEST_F(StartWithWindows, AnyValueCountsAsSetUnlessTooLongToRead) {
    ASSERT_TRUE(WriteRunValue("D:\\elsewhere\\other program.exe"));
    EXPECT_TRUE(app::IsStartWithWindowsSet());
    // Ticking overwrites someone else's value with this program's path.
    app::ApplyStartWithWindows(true);
    std::string data;
    ASSERT_TRUE(ReadRunValue(&data));
    EXPECT_EQ(data, app::RunValueData(ui::ModuleFileName()));

    // A value longer than the 260-byte buffer cannot be read, so it does not count.
    ASSERT_TRUE(WriteRunValue("C:\\" + std::string(300, 'x') + ".exe"));
    EXPECT_FALSE(app::IsStartWithWindowsSet());
}

} // namespace
