// Text between the program's narrow strings (the ANSI code page) and the UTF-16 that some
// system interfaces (COM, a process's loader) use.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

inline std::wstring Widen(const std::string& text) {
    const int length = static_cast<int>(text.size());
    const int size =
        text.empty() ? 0 : ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], size);
    return wide;
}

inline std::string Narrow(const wchar_t* text, int length) {
    const int size = !text || length <= 0 ? 0
                                          : ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr,
                                                                  0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, length, &narrow[0], size, nullptr, nullptr);
    return narrow;
}

} // namespace ui
