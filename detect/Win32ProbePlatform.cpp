#include "detect/Win32ProbePlatform.h"

#include "detect/Win32KeyInput.h"

#include <algorithm>

namespace detect {

namespace {

// The filter of this thread, if it has one.
thread_local ProbeKeyFilter* t_filter = nullptr;
// The chain timer's worker whose thread this is.
thread_local LowLevelChainTimer::Worker* t_worker = nullptr;

constexpr UINT kInstallHook = WM_APP + 1;
constexpr UINT kRemoveHook = WM_APP + 2;
// How long the program waits at most for its threads to end, and for the timed key.
constexpr DWORD kQuitWaitMs = 1000;
constexpr DWORD kKeyWaitMs = 100;
// The hotkey id the probe takes for a moment.
constexpr int kProbeHotkeyId = 0xBF00;

double Milliseconds(LONGLONG counts) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        return ::QueryPerformanceFrequency(&value) && value.QuadPart > 0 ? value.QuadPart : 1;
    }();
    return static_cast<double>(counts) * 1000.0 / static_cast<double>(frequency);
}

// Times only how long passing the event on takes; looks at nothing of the key.
LRESULT CALLBACK TimeNextHook(int code, WPARAM wParam, LPARAM lParam) {
    LowLevelChainTimer::Worker* worker = t_worker;
    if (code != HC_ACTION || !worker)
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    LARGE_INTEGER before, after;
    ::QueryPerformanceCounter(&before);
    const LRESULT result = ::CallNextHookEx(nullptr, code, wParam, lParam);
    ::QueryPerformanceCounter(&after);
    const int index = worker->count.load();
    if (index < LowLevelChainTimer::Worker::kSamples) {
        worker->ms[index] = Milliseconds(after.QuadPart - before.QuadPart);
        worker->count.store(index + 1);
        if (index + 1 == worker->wanted)
            ::SetEvent(worker->sampled.get());
    }
    return result;
}

DWORD WINAPI WorkerMain(void* parameter) {
    auto* worker = static_cast<LowLevelChainTimer::Worker*>(parameter);
    t_worker = worker;
    MSG msg;
    // The thread's queue exists from here on: commands posted to it are not lost. That is
    // command 1, the start.
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    worker->carriedOut.store(1, std::memory_order_release);
    ::SetEvent(worker->done.get());
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message != kInstallHook && msg.message != kRemoveHook)
            continue;
        if (msg.message == kInstallHook && !worker->hook) {
            worker->hook =
                ::SetWindowsHookExA(WH_KEYBOARD_LL, TimeNextHook, ::GetModuleHandleA(nullptr), 0);
        } else if (msg.message == kRemoveHook && worker->hook) {
            ::UnhookWindowsHookEx(worker->hook);
            worker->hook = nullptr;
        }
        // The command's number, so that a late answer is never taken for a later command's.
        worker->carriedOut.store(static_cast<unsigned>(msg.wParam), std::memory_order_release);
        ::SetEvent(worker->done.get());
    }
    if (worker->hook)
        ::UnhookWindowsHookEx(worker->hook);
    worker->hook = nullptr;
    return 0;
}

bool SendChainKey() {
    return PressAndRelease(VK_F11, kChainKeyMark);
}

// Milliseconds left until `deadline` (a GetTickCount64 time); 0 once it has passed.
DWORD Remaining(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

} // namespace

// ---- ProbeKeyFilter ----

ProbeKeyFilter::ProbeKeyFilter()
    : hook_(::SetWindowsHookExA(WH_MSGFILTER, Filter, nullptr, ::GetCurrentThreadId())) {
    t_filter = this;
}

ProbeKeyFilter::~ProbeKeyFilter() {
    if (t_filter == this)
        t_filter = nullptr;
}

LRESULT CALLBACK ProbeKeyFilter::Filter(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && t_filter) {
        const MSG& msg = *reinterpret_cast<const MSG*>(lParam);
        const ULONG_PTR mark = static_cast<ULONG_PTR>(::GetMessageExtraInfo());
        if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST &&
            (mark == kProbeKeyMark || mark == kChainKeyMark || mark == kHelperKeyMark)) {
            if (mark == kProbeKeyMark && msg.message == WM_KEYDOWN &&
                static_cast<int>(msg.wParam) == t_filter->expected_)
                t_filter->arrived_ = true;
            return 1; // taken in, and dropped
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- LowLevelChainTimer ----

LowLevelChainTimer::~LowLevelChainTimer() {
    for (Worker& worker : workers_) {
        if (!worker.thread)
            continue;
        ::PostThreadMessageA(worker.id, WM_QUIT, 0, 0);
        if (::WaitForSingleObject(worker.thread.get(), kQuitWaitMs) != WAIT_OBJECT_0)
            ::TerminateThread(worker.thread.get(), 0);
    }
}

bool LowLevelChainTimer::Start(ULONGLONG deadline) {
    if (started_ || failed_)
        return started_;
    for (Worker& worker : workers_) {
        worker.done.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        worker.sampled.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (worker.done && worker.sampled)
            worker.thread.reset(::CreateThread(nullptr, 0, WorkerMain, &worker, 0, &worker.id));
        if (!worker.thread) {
            failed_ = true;
            return false;
        }
        worker.issued = 1; // the thread's start
    }
    started_ = true;
    // A thread that is slow to start only makes this call time nothing.
    return CaughtUp(workers_[0], deadline) && CaughtUp(workers_[1], deadline);
}

bool LowLevelChainTimer::CaughtUp(Worker& worker, ULONGLONG deadline) {
    // `done` may be left signalled by an answer that came after its wait gave up: the numbers
    // tell.
    while (worker.carriedOut.load(std::memory_order_acquire) != worker.issued) {
        const DWORD left = Remaining(deadline);
        if (left == 0 || ::WaitForSingleObject(worker.done.get(), left) == WAIT_FAILED)
            return worker.carriedOut.load(std::memory_order_acquire) == worker.issued;
    }
    return true;
}

bool LowLevelChainTimer::Command(Worker& worker, UINT message, ULONGLONG deadline) {
    const unsigned number = worker.issued + 1;
    if (!::PostThreadMessageA(worker.id, message, number, 0))
        return false;
    worker.issued = number;
    return CaughtUp(worker, deadline);
}

std::vector<ChainTiming> LowLevelChainTimer::Time(bool (*sendKey)()) {
    const ULONGLONG deadline = ::GetTickCount64() + kBudgetMs;
    if (!Start(deadline))
        return {};
    Worker& probe = workers_[0];
    Worker& calibration = workers_[1];
    // A thread still busy with an earlier command (its hook set or taken away late) is left
    // alone until it has caught up.
    if (!CaughtUp(probe, ::GetTickCount64()) || !CaughtUp(calibration, ::GetTickCount64()))
        return {};
    for (Worker& worker : workers_) {
        worker.count.store(0);
        ::ResetEvent(worker.sampled.get());
    }
    // The press and the release.
    calibration.wanted = 2;

    // The probe hook first: the calibration hook, set after it, comes ahead of it.
    if (Command(probe, kInstallHook, deadline) && probe.hook &&
        Command(calibration, kInstallHook, deadline) && calibration.hook && sendKey())
        ::WaitForSingleObject(calibration.sampled.get(), std::min(kKeyWaitMs, Remaining(deadline)));
    // Taken away even when the time is up: the commands still go, carried out later.
    Command(calibration, kRemoveHook, deadline);
    Command(probe, kRemoveHook, deadline);

    // Each event went through the calibration hook and then the probe hook, in that order.
    std::vector<ChainTiming> timings;
    const int events = std::min(probe.count.load(), calibration.count.load());
    for (int i = 0; i < events; ++i)
        timings.push_back({probe.ms[i], calibration.ms[i]});
    return timings;
}

// ---- Win32ProbePlatform ----

std::vector<ChainTiming> Win32ProbePlatform::TimeLowLevelChain() {
    // No hooks are set for a key that could not go in anyway; it is asked again as it goes.
    if (!KeysMayBeInjected())
        return {};
    return chain_.Time(SendChainKey);
}

bool Win32ProbePlatform::ReadPressedBit(int key) {
    return (::GetAsyncKeyState(key) & 1) != 0;
}

bool Win32ProbePlatform::InjectProbeKey(int key) {
    filter_.Expect(key);
    if (PressAndRelease(static_cast<WORD>(key), kProbeKeyMark))
        return true;
    filter_.Expect(0);
    return false;
}

bool Win32ProbePlatform::HotkeyTaken(int key) {
    if (::RegisterHotKey(nullptr, kProbeHotkeyId, 0, static_cast<UINT>(key))) {
        ::UnregisterHotKey(nullptr, kProbeHotkeyId);
        return false;
    }
    return ::GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED;
}

} // namespace detect
