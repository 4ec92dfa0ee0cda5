// Other programs' pending renames as the system keeps them (UTF-16), named in letters that no
// single ANSI code page holds together: for the tests of the program's edit of that list,
// natively and under Wine.
#pragma once

#include <string>

namespace testing_support {

using namespace std::string_literals;

inline const std::u16string kPolish =
    u"\\??\\C:\\Users\\\u0141ukasz\\AppData\\Local\\Temp\\app.dll.new\0"
    u"!\\??\\C:\\Users\\\u0141ukasz\\AppData\\Local\\app.dll\0"s;
inline const std::u16string kCyrillicDeletion =
    u"\\??\\C:\\Users\\\u0418\u0432\u0430\u043d\\setup.tmp\0\0"s;
inline const std::u16string kChinese =
    u"\\??\\C:\\\u7a0b\u5e8f\\new.dll\0\\??\\C:\\\u7a0b\u5e8f\\old.dll\0"s;
// The NUL that ends the list.
inline const std::u16string kEnd = u"\0"s;

} // namespace testing_support
