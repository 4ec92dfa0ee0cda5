#include "app/RunValue.h"

#include <gtest/gtest.h>

namespace {

TEST(RunValue, QuotesAPathWithABlankOnly) {
    EXPECT_EQ(app::RunValueData("C:\\Snoopsweep\\Snoopsweep.exe"),
              "C:\\Snoopsweep\\Snoopsweep.exe");
    EXPECT_EQ(app::RunValueData("C:\\Program Files\\Snoopsweep\\Snoopsweep.exe"),
              "\"C:\\Program Files\\Snoopsweep\\Snoopsweep.exe\"");
    EXPECT_EQ(app::RunValueData("C:\\Snoopsweep\\Snoop sweep.exe"),
              "\"C:\\Snoopsweep\\Snoop sweep.exe\"");
    EXPECT_EQ(app::RunValueData(""), "");
}

} // namespace
