#include "detect/Win32ProbePlatform.h"

#include <algorithm>

namespace detect {

namespace {

// The filter of this thread, if it has one.
thread_local ProbeKeyFilter* t_filter = nullptr;
// The chain timer's worker whose thread this is.
thread_local LowLevelChainTimer::Worker* t_worker = nullptr;

constexpr UINT kInstallHook = WM_APP + 1;
constexpr UINT kRemoveHook = WM_APP + 2;
// How long the program waits at most for one of its threads, and for the timed key.
constexpr DWORD kCommandWaitMs = 1000;
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
    // The thread's queue exists from here on: commands posted to it are not lost.
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    ::SetEvent(worker->done.get());
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == kInstallHook && !worker->hook) {
            worker->hook =
                ::SetWindowsHookExA(WH_KEYBOARD_LL, TimeNextHook, ::GetModuleHandleA(nullptr), 0);
            ::SetEvent(worker->done.get());
        } else if (msg.message == kRemoveHook) {
            if (worker->hook)
                ::UnhookWindowsHookEx(worker->hook);
            worker->hook = nullptr;
            ::SetEvent(worker->done.get());
        }
    }
    if (worker->hook)
        ::UnhookWindowsHookEx(worker->hook);
    worker->hook = nullptr;
    return 0;
}

void SendChainKey() {
    ::keybd_event(VK_F11, 0, 0, kChainKeyMark);
    ::keybd_event(VK_F11, 0, KEYEVENTF_KEYUP, kChainKeyMark);
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
            (mark == kProbeKeyMark || mark == kChainKeyMark)) {
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
        if (::WaitForSingleObject(worker.thread.get(), kCommandWaitMs) != WAIT_OBJECT_0)
            ::TerminateThread(worker.thread.get(), 0);
    }
}

bool LowLevelChainTimer::Start() {
    if (started_ || failed_)
        return started_;
    for (Worker& worker : workers_) {
        worker.done.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        worker.sampled.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (worker.done && worker.sampled)
            worker.thread.reset(::CreateThread(nullptr, 0, WorkerMain, &worker, 0, &worker.id));
        if (!worker.thread ||
            ::WaitForSingleObject(worker.done.get(), kCommandWaitMs) != WAIT_OBJECT_0) {
            failed_ = true;
            return false;
        }
    }
    started_ = true;
    return true;
}

bool LowLevelChainTimer::Command(Worker& worker, UINT message) {
    return ::PostThreadMessageA(worker.id, message, 0, 0) &&
           ::WaitForSingleObject(worker.done.get(), kCommandWaitMs) == WAIT_OBJECT_0;
}

std::vector<ChainTiming> LowLevelChainTimer::Time(void (*sendKey)()) {
    if (!Start())
        return {};
    Worker& probe = workers_[0];
    Worker& calibration = workers_[1];
    for (Worker& worker : workers_) {
        worker.count.store(0);
        ::ResetEvent(worker.sampled.get());
    }
    // The press and the release.
    calibration.wanted = 2;

    // The probe hook first: the calibration hook, set after it, comes ahead of it.
    std::vector<ChainTiming> timings;
    if (Command(probe, kInstallHook) && probe.hook && Command(calibration, kInstallHook) &&
        calibration.hook) {
        sendKey();
        ::WaitForSingleObject(calibration.sampled.get(), kKeyWaitMs);
    }
    Command(calibration, kRemoveHook);
    Command(probe, kRemoveHook);

    // Each event went through the calibration hook and then the probe hook, in that order.
    const int events = std::min(probe.count.load(), calibration.count.load());
    for (int i = 0; i < events; ++i)
        timings.push_back({probe.ms[i], calibration.ms[i]});
    return timings;
}

// ---- Win32ProbePlatform ----

std::vector<ChainTiming> Win32ProbePlatform::TimeLowLevelChain() {
    return chain_.Time(SendChainKey);
}

bool Win32ProbePlatform::ReadPressedBit(int key) {
    return (::GetAsyncKeyState(key) & 1) != 0;
}

void Win32ProbePlatform::InjectProbeKey(int key) {
    filter_.Expect(key);
    ::keybd_event(static_cast<BYTE>(key), 0, 0, kProbeKeyMark);
    ::keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, kProbeKeyMark);
}

bool Win32ProbePlatform::HotkeyTaken(int key) {
    if (::RegisterHotKey(nullptr, kProbeHotkeyId, 0, static_cast<UINT>(key))) {
        ::UnregisterHotKey(nullptr, kProbeHotkeyId);
        return false;
    }
    return ::GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED;
}

} // namespace detect
