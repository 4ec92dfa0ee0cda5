#include "detect/Win32KeyRounds.h"

#include "detect/Win32KeyInput.h"
#include "ui/Handles.h"
#include "ui/Lock.h"

#include <tlhelp32.h>

#include <map>

namespace detect {

namespace {

std::map<std::pair<uint32_t, uint64_t>, uint64_t> ByThread(const std::vector<ThreadWakes>& read) {
    std::map<std::pair<uint32_t, uint64_t>, uint64_t> counts;
    for (const ThreadWakes& thread : read)
        counts[{thread.process, thread.thread}] = thread.count;
    return counts;
}

} // namespace

bool Win32RoundPlatform::InjectRoundKey(int key) {
    return PressAndRelease(static_cast<WORD>(key), kRoundKeyMark);
}

std::optional<int> Win32RoundPlatform::BaitKey() {
    std::optional<int> bait;
    int taken = 0;
    for (int key : HotkeyKeys()) {
        if (probes_.HotkeyTaken(key)) {
            ++taken;
            if (!bait)
                bait = key;
        }
    }
    if (!KeyboardHeld(taken, static_cast<int>(HotkeyKeys().size())))
        return std::nullopt;
    return bait;
}

std::vector<uint32_t> Win32RoundPlatform::Processes() {
    std::vector<uint32_t> processes;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return processes;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry))
        processes.push_back(entry.th32ProcessID);
    return processes;
}

LRESULT CALLBACK Win32RoundPlatform::BracketNextHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* bracketing = static_cast<Bracketing*>(HookThread::Context());
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (code != HC_ACTION || !bracketing || key->dwExtraInfo != kRoundKeyMark)
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    // Only the round's own keys, and only while the caller waits for them: the user's keys
    // pass at once.
    ui::ExclusiveLock locked(bracketing->lock);
    if (!bracketing->open)
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    const auto before = ByThread(bracketing->counters->Read(bracketing->threads));
    const LRESULT result = ::CallNextHookEx(nullptr, code, wParam, lParam);
    const auto after = ByThread(bracketing->counters->Read(bracketing->threads));
    for (size_t i = 0; i < bracketing->threads.size(); ++i) {
        const std::pair<uint32_t, uint64_t> id{bracketing->threads[i].process,
                                               bracketing->threads[i].thread};
        const auto was = before.find(id);
        const auto is = after.find(id);
        if (was != before.end() && is != after.end() && was->second != is->second)
            ++bracketing->risesInside[i];
    }
    if (++bracketing->events == bracketing->wanted)
        ::SetEvent(bracketing->done.get());
    return result;
}

std::optional<BracketCounts> Win32RoundPlatform::Bracket(WakeCounterSource& counters,
                                                         const std::vector<ThreadWakes>& threads,
                                                         int keys) {
    const ULONGLONG deadline = ::GetTickCount64() + kBracketBudgetMs;
    if (!bracketing_.done)
        bracketing_.done.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!bracketing_.done || !thread_.Start(deadline) || !thread_.CaughtUp(::GetTickCount64()))
        return std::nullopt;
    {
        ui::ExclusiveLock locked(bracketing_.lock);
        bracketing_.open = true;
        bracketing_.counters = &counters;
        bracketing_.threads = threads;
        bracketing_.risesInside.assign(threads.size(), 0);
        bracketing_.events = 0;
        bracketing_.wanted = 2 * keys; // each press and each release
        ::ResetEvent(bracketing_.done.get());
    }
    bool sent = thread_.Install(deadline);
    for (int i = 0; sent && i < keys; ++i)
        sent = InjectRoundKey(VK_F11);
    if (sent)
        ::WaitForSingleObject(bracketing_.done.get(), Remaining(deadline));
    thread_.Remove(deadline);

    ui::ExclusiveLock locked(bracketing_.lock);
    bracketing_.open = false;
    if (!sent || bracketing_.events < bracketing_.wanted)
        return std::nullopt;
    return BracketCounts{bracketing_.events, bracketing_.risesInside};
}

} // namespace detect
