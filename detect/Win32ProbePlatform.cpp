#include "detect/Win32ProbePlatform.h"

#include "detect/Win32KeyInput.h"

#include <algorithm>

namespace detect {

namespace {

// The filter of this thread, if it has one.
thread_local ProbeKeyFilter* t_filter = nullptr;
// The context of the hook thread that this is.
thread_local void* t_hookContext = nullptr;

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

bool SendChainKey() {
    return PressAndRelease(VK_F11, kChainKeyMark);
}

} // namespace

DWORD Remaining(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

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
            (mark == kProbeKeyMark || mark == kChainKeyMark || mark == kHelperKeyMark ||
             mark == kRoundKeyMark)) {
            if (mark == kProbeKeyMark && msg.message == WM_KEYDOWN &&
                static_cast<int>(msg.wParam) == t_filter->expected_)
                t_filter->arrived_ = true;
            return 1; // taken in, and dropped
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- HookThread ----

HookThread::~HookThread() {
    if (!thread_)
        return;
    ::PostThreadMessageA(id_, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(thread_.get(), kQuitWaitMs) != WAIT_OBJECT_0)
        ::TerminateThread(thread_.get(), 0);
}

void* HookThread::Context() {
    return t_hookContext;
}

DWORD WINAPI HookThread::Main(void* parameter) {
    auto* self = static_cast<HookThread*>(parameter);
    t_hookContext = self->context_;
    HHOOK hook = nullptr;
    MSG msg;
    // The thread's queue exists from here on: commands posted to it are not lost. That is
    // command 1, the start.
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    self->carriedOut_.store(1, std::memory_order_release);
    ::SetEvent(self->done_.get());
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message != kInstallHook && msg.message != kRemoveHook)
            continue;
        if (msg.message == kInstallHook && !hook) {
            hook = ::SetWindowsHookExA(WH_KEYBOARD_LL, self->procedure_,
                                       ::GetModuleHandleA(nullptr), 0);
        } else if (msg.message == kRemoveHook && hook) {
            ::UnhookWindowsHookEx(hook);
            hook = nullptr;
        }
        self->hooked_.store(hook != nullptr, std::memory_order_release);
        // The command's number, so that a late answer is never taken for a later command's.
        self->carriedOut_.store(static_cast<unsigned>(msg.wParam), std::memory_order_release);
        ::SetEvent(self->done_.get());
    }
    // A hook left behind by a program that ended may keep other programs' hooks from being
    // called: it goes on every way out.
    if (hook)
        ::UnhookWindowsHookEx(hook);
    return 0;
}

bool HookThread::Start(ULONGLONG deadline) {
    if (!thread_ && !failed_) {
        done_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (done_)
            thread_.reset(::CreateThread(nullptr, 0, Main, this, 0, &id_));
        failed_ = !thread_;
        issued_ = 1; // the thread's start
    }
    return !failed_ && CaughtUp(deadline);
}

bool HookThread::CaughtUp(ULONGLONG deadline) {
    // `done` may be left signalled by an answer that came after its wait gave up: the numbers
    // tell.
    while (carriedOut_.load(std::memory_order_acquire) != issued_) {
        const DWORD left = Remaining(deadline);
        if (left == 0 || ::WaitForSingleObject(done_.get(), left) == WAIT_FAILED)
            return carriedOut_.load(std::memory_order_acquire) == issued_;
    }
    return true;
}

bool HookThread::Command(UINT message, ULONGLONG deadline) {
    const unsigned number = issued_ + 1;
    if (!thread_ || !::PostThreadMessageA(id_, message, number, 0))
        return false;
    issued_ = number;
    return CaughtUp(deadline);
}

bool HookThread::Install(ULONGLONG deadline) {
    return Command(kInstallHook, deadline) && hooked_.load(std::memory_order_acquire);
}

bool HookThread::Remove(ULONGLONG deadline) {
    return Command(kRemoveHook, deadline);
}

// ---- LowLevelChainTimer ----

// Times only how long passing the event on takes; looks at nothing of the key.
LRESULT CALLBACK LowLevelChainTimer::Worker::TimeNextHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* worker = static_cast<Worker*>(HookThread::Context());
    if (code != HC_ACTION || !worker)
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    LARGE_INTEGER before, after;
    ::QueryPerformanceCounter(&before);
    const LRESULT result = ::CallNextHookEx(nullptr, code, wParam, lParam);
    ::QueryPerformanceCounter(&after);
    const int index = worker->count.load();
    if (index < kSamples) {
        worker->ms[index] = Milliseconds(after.QuadPart - before.QuadPart);
        worker->count.store(index + 1);
        if (index + 1 == worker->wanted)
            ::SetEvent(worker->sampled.get());
    }
    return result;
}

bool LowLevelChainTimer::Start(ULONGLONG deadline) {
    for (Worker& worker : workers_) {
        if (!worker.sampled)
            worker.sampled.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!worker.sampled)
            return false;
    }
    // A thread that is slow to start only makes this call time nothing.
    return workers_[0].thread.Start(deadline) && workers_[1].thread.Start(deadline);
}

std::vector<ChainTiming> LowLevelChainTimer::Time(bool (*sendKey)(), bool& keySent) {
    keySent = false;
    const ULONGLONG deadline = ::GetTickCount64() + kBudgetMs;
    if (!Start(deadline))
        return {};
    Worker& probe = workers_[0];
    Worker& calibration = workers_[1];
    // A thread still busy with an earlier command (its hook set or taken away late) is left
    // alone until it has caught up.
    if (!probe.thread.CaughtUp(::GetTickCount64()) ||
        !calibration.thread.CaughtUp(::GetTickCount64()))
        return {};
    for (Worker& worker : workers_) {
        worker.count.store(0);
        ::ResetEvent(worker.sampled.get());
    }
    // The press and the release.
    calibration.wanted = 2;

    // The probe hook first: the calibration hook, set after it, comes ahead of it.
    keySent = probe.thread.Install(deadline) && calibration.thread.Install(deadline) && sendKey();
    if (keySent)
        ::WaitForSingleObject(calibration.sampled.get(), std::min(kKeyWaitMs, Remaining(deadline)));
    // Taken away even when the time is up: the commands still go, carried out later.
    calibration.thread.Remove(deadline);
    probe.thread.Remove(deadline);

    // Each event went through the calibration hook and then the probe hook, in that order.
    std::vector<ChainTiming> timings;
    const int events = std::min(probe.count.load(), calibration.count.load());
    for (int i = 0; i < events; ++i)
        timings.push_back({probe.ms[i], calibration.ms[i]});
    return timings;
}

// ---- Win32ProbePlatform ----

std::vector<ChainTiming> Win32ProbePlatform::TimeLowLevelChain(bool& keySent) {
    keySent = false;
    // No hooks are set for a key that could not go in anyway; it is asked again as it goes.
    if (!KeysMayBeInjected())
        return {};
    return chain_.Time(SendChainKey, keySent);
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
