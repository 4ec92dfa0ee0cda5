#include "detect/Win32PauseTest.h"

#include "detect/KeyboardProbes.h"
#include "detect/Win32KeyInput.h"
#include "detect/Win32ProbePlatform.h"
#include "ui/Lock.h"

#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <utility>

namespace detect {

namespace {

using ProcessCall = LONG(NTAPI*)(HANDLE);

constexpr DWORD kSuspendAccess = PROCESS_SUSPEND_RESUME | PROCESS_QUERY_LIMITED_INFORMATION;
// How long the platform waits at most for its watchdog to end.
constexpr DWORD kWatchdogEndMs = 5000;
// The hotkey id the key's check takes for a moment.
constexpr int kPauseHotkeyId = 0xBF01;

ProcessCall NtProcessCall(const char* name) {
    // Through a plain function pointer type, as GetProcAddress's result has no real type.
    return reinterpret_cast<ProcessCall>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), name)));
}

std::optional<uint32_t> SessionOf(uint32_t process) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(process, &session))
        return std::nullopt;
    return session;
}

uint32_t ForegroundProcess() {
    DWORD process = 0;
    if (const HWND front = ::GetForegroundWindow())
        ::GetWindowThreadProcessId(front, &process);
    return process;
}

// Stops each thread of `process` that is running now, keeping their handles in `threads`;
// false, with the threads stopped so far let go again, when one of them could not be stopped.
bool SuspendThreads(uint32_t process, std::vector<ui::Handle>& threads) {
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    bool stopped = true;
    for (BOOL more = snapshot && ::Thread32First(snapshot.get(), &entry); more && stopped;
         more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != process)
            continue;
        ui::Handle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        threads.reserve(threads.size() + 1); // room first: a stopped thread is always kept
        stopped = thread && ::SuspendThread(thread.get()) != static_cast<DWORD>(-1);
        if (stopped)
            threads.push_back(std::move(thread));
    }
    if (stopped && !threads.empty())
        return true;
    for (ui::Handle& thread : threads)
        ::ResumeThread(thread.get());
    threads.clear();
    return false;
}

// One program suspended by the platform.
struct Suspension {
    ui::Handle process;
    bool whole = false;              // stopped whole
    std::vector<ui::Handle> threads; // or these of its threads, one by one
    ULONGLONG deadline = 0;
};

} // namespace

struct Win32PausePlatform::Watch {
    SRWLOCK lock = SRWLOCK_INIT; // for `suspended`
    std::map<uint32_t, Suspension> suspended;
    ProcessCall suspendProcess = nullptr; // none: thread by thread
    ProcessCall resumeProcess = nullptr;
    ui::Handle stop;    // the platform goes
    ui::Handle owner;   // the thread that made it
    ui::Handle changed; // a program was suspended

    void Release(Suspension& suspension) {
        if (suspension.whole)
            resumeProcess(suspension.process.get());
        for (ui::Handle& thread : suspension.threads)
            ::ResumeThread(thread.get());
    }

    // Resumes the programs whose deadline has passed, or all; the time until the next deadline.
    DWORD ReleaseDue(bool all) {
        ui::ExclusiveLock locked(lock);
        const ULONGLONG now = ::GetTickCount64();
        DWORD next = INFINITE;
        for (auto it = suspended.begin(); it != suspended.end();) {
            if (all || it->second.deadline <= now) {
                Release(it->second);
                it = suspended.erase(it);
            } else {
                next = std::min(next, static_cast<DWORD>(it->second.deadline - now));
                ++it;
            }
        }
        return next;
    }

    static DWORD WINAPI Watchdog(void* parameter) {
        // Its own share of the state: it outlives a platform whose thread was ended.
        const std::unique_ptr<std::shared_ptr<Watch>> held(
            static_cast<std::shared_ptr<Watch>*>(parameter));
        Watch& watch = **held;
        const HANDLE events[] = {watch.stop.get(), watch.owner.get(), watch.changed.get()};
        for (;;) {
            const DWORD wait = watch.ReleaseDue(false);
            const DWORD woken = ::WaitForMultipleObjects(3, events, FALSE, wait);
            if (woken != WAIT_OBJECT_0 + 2 && woken != WAIT_TIMEOUT)
                break;
        }
        watch.ReleaseDue(true);
        return 0;
    }
};

Win32PausePlatform::Win32PausePlatform(SuspendBy by, HANDLE cancel)
    : cancel_(cancel), watch_(std::make_shared<Watch>()) {
    Watch& watch = *watch_;
    if (by == SuspendBy::WholeProcess) {
        watch.suspendProcess = NtProcessCall("NtSuspendProcess");
        watch.resumeProcess = NtProcessCall("NtResumeProcess");
        if (!watch.suspendProcess || !watch.resumeProcess)
            watch.suspendProcess = watch.resumeProcess = nullptr;
    }
    HANDLE owner = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &owner,
                      SYNCHRONIZE, FALSE, 0);
    watch.owner.reset(owner);
    watch.stop.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    watch.changed.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!watch.owner || !watch.stop || !watch.changed)
        return;
    auto* share = new std::shared_ptr<Watch>(watch_);
    watchdog_.reset(::CreateThread(nullptr, 0, Watch::Watchdog, share, 0, nullptr));
    if (!watchdog_)
        delete share;
}

Win32PausePlatform::~Win32PausePlatform() {
    if (!watchdog_)
        return;
    ::SetEvent(watch_->stop.get());
    ::WaitForSingleObject(watchdog_.get(), kWatchdogEndMs);
}

bool Win32PausePlatform::Suspend(uint32_t process) {
    // Never the program itself: its own thread would stop too.
    if (!watchdog_ || process == ::GetCurrentProcessId())
        return false;
    ui::Handle handle(::OpenProcess(kSuspendAccess, FALSE, process));
    if (!handle)
        return false;
    Watch& watch = *watch_;
    {
        // Noted before it is suspended, and under the lock: the watchdog never misses it.
        ui::ExclusiveLock locked(watch.lock);
        const auto noted = watch.suspended.emplace(process, Suspension{});
        if (!noted.second)
            return false;
        Suspension& suspension = noted.first->second;
        suspension.process = std::move(handle);
        if (watch.suspendProcess)
            suspension.whole = watch.suspendProcess(suspension.process.get()) >= 0;
        const bool stopped = suspension.whole ||
                             (!watch.suspendProcess && SuspendThreads(process, suspension.threads));
        if (!stopped) {
            watch.suspended.erase(noted.first);
            return false;
        }
        suspension.deadline = ::GetTickCount64() + kWatchdogMs;
    }
    ::SetEvent(watch.changed.get());
    return true;
}

bool Win32PausePlatform::Resume(uint32_t process) {
    Watch& watch = *watch_;
    ui::ExclusiveLock locked(watch.lock);
    const auto found = watch.suspended.find(process);
    if (found == watch.suspended.end())
        return false;
    watch.Release(found->second);
    watch.suspended.erase(found);
    return true;
}

bool Win32PausePlatform::InjectProbeKey(int key) {
    return PressAndRelease(static_cast<WORD>(key), kProbeKeyMark);
}

bool Win32PausePlatform::ReadPressedBit(int key) {
    return (::GetAsyncKeyState(key) & 1) != 0;
}

bool MaySuspend(uint32_t process) {
    return ui::Handle(::OpenProcess(kSuspendAccess, FALSE, process)).valid();
}

std::optional<int> FreeProbeKey() {
    for (int key : PolledKeys()) {
        if (::RegisterHotKey(nullptr, kPauseHotkeyId, 0, static_cast<UINT>(key))) {
            ::UnregisterHotKey(nullptr, kPauseHotkeyId);
            return key;
        }
    }
    return std::nullopt;
}

void Win32PausePlatform::Wait(uint64_t ms) {
    if (cancel_)
        ::WaitForSingleObject(cancel_, static_cast<DWORD>(ms));
    else
        ::Sleep(static_cast<DWORD>(ms));
}

PauseTestResult RunPauseTest(WakeCounterSource& counters, const PauseTestInputs& inputs) {
    const ULONGLONG start = ::GetTickCount64();
    PauseTestResult result;
    const std::optional<int> key = FreeProbeKey();
    if (key && KeysMayBeInjected()) {
        std::vector<uint32_t> skip;
        if (inputs.helper)
            skip.push_back(inputs.helper);
        counters.Refresh(skip);
        const std::vector<ThreadWakes> before = counters.Snapshot();
        const ULONGLONG from = ::GetTickCount64();
        const bool cancelled =
            inputs.cancel &&
            ::WaitForSingleObject(inputs.cancel, kPauseTestMeasureMs) == WAIT_OBJECT_0;
        if (!inputs.cancel)
            ::Sleep(kPauseTestMeasureMs);
        const std::vector<ThreadWakes> after = counters.Snapshot();

        PauseRules rules;
        rules.measuredMs = std::max<ULONGLONG>(::GetTickCount64() - from, 1);
        rules.self = ::GetCurrentProcessId();
        rules.session = SessionOf(rules.self);
        rules.foreground = ForegroundProcess();
        rules.excluded = inputs.owners;
        rules.excluded.insert(rules.excluded.end(), skip.begin(), skip.end());
        rules.trusted = inputs.trusted;
        std::vector<ProcessFacts> processes = WakesBetween(before, after, counters.CounterBits());
        for (ProcessFacts& facts : processes) {
            if (facts.wakes == 0)
                continue; // never a candidate: not worth opening
            facts.image = counters.ImagePath(facts.process);
            facts.session = SessionOf(facts.process);
            facts.maySuspend = MaySuspend(facts.process);
        }

        Win32PausePlatform platform(SuspendBy::WholeProcess, inputs.cancel);
        PauseOutcome outcome = RunPauses(platform,
                                         cancelled ? std::vector<PauseCandidate>{}
                                                   : RankPauseCandidates(processes, rules),
                                         *key);
        if (outcome.poller)
            result.poller = Holder{outcome.poller->process, outcome.poller->image};
        result.pauses = std::move(outcome.pauses);
    }
    result.totalMs = ::GetTickCount64() - start;
    return result;
}

} // namespace detect
