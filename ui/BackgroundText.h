// A text gathered on a thread of its own and handed to a window by a posted message. The
// message carries only the job's number: the window takes the text from here, so a message of
// the same number that another program posts (or broadcasts), whatever its parameters, shows
// nothing and frees nothing.
#pragma once

#include "ui/Handles.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ui {

class BackgroundText {
public:
    using Gather = std::function<std::string()>;

    BackgroundText() = default;
    BackgroundText(const BackgroundText&) = delete;
    BackgroundText& operator=(const BackgroundText&) = delete;

    // Starts `gather` on a thread of its own, which posts `message` to `window` with the job's
    // number as wParam once the text is ready. Not while the last job's thread still runs:
    // false then, and when no thread could be started. A job that ended without a text (its
    // gathering failed, or its message could not be posted) does not stand in the way.
    bool Start(HWND window, UINT message, Gather gather);
    // Whether the last job's thread still runs.
    bool Running() const;
    // Waits up to `ms` for the last job's thread to end; true when none runs.
    bool Wait(DWORD ms) const;
    // The text, when `number` (the message's wParam) is the current job's and its text is
    // ready; the job is over then. None for anything else.
    std::optional<std::string> Take(WPARAM number);

private:
    struct Job {
        HWND window = nullptr;
        UINT message = 0;
        WPARAM number = 0;
        Gather gather;
        std::string text;
        std::atomic<bool> ready{false};
    };
    static DWORD WINAPI Main(void* parameter);

    std::shared_ptr<Job> job_;
    Handle thread_;
    WPARAM lastNumber_ = 0;
};

} // namespace ui
