#include "detect/Win32Helper32.h"

#include "detect/Win32KeyInput.h"
#include "detect/Win32ProbePlatform.h"
#include "ui/WinApp.h"

#include <initializer_list>

namespace detect {

namespace {

constexpr char kHelperName[] = "SnoopsweepHelper32.exe";
// The pipe's room: several complete lists.
constexpr DWORD kPipeBytes = 256 * 1024;

HANDLE Inheritable(HANDLE handle) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

} // namespace

std::string Helper32::BesideProgram() {
    const std::string program = ui::ModuleFileName();
    const size_t slash = program.find_last_of('\\');
    return (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) +
           kHelperName;
}

void Helper32::Probe(HWND dialog) {
    if (process_) {
        if (!Read() || ::WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT ||
            (!window_ && ::GetTickCount64() - startedAt_ > startLimitMs_)) {
            Stop(true);
            return;
        }
        if (window_)
            LendFocus(dialog);
        return;
    }
    if (failures_ > kMaxStarts || ::GetTickCount64() < nextStart_)
        return;
    if (!Start(dialog))
        Stop(true);
}

bool Helper32::Start(HWND dialog) {
    // The pipe and the event are made inheritable only for the moment of the start.
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, kPipeBytes))
        return false;
    pipe_.reset(readEnd);
    const ui::Handle write(Inheritable(writeEnd));
    taken_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    HANDLE self = nullptr;
    if (!taken_ || !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(),
                                      ::GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0))
        return false;
    const ui::Handle parent(self);
    Inheritable(taken_.get());

    // The job ends the helper when the program's last handle to it goes: when the program
    // ends, whatever way.
    job_.reset(::CreateJobObjectA(nullptr, nullptr));
    if (job_) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                  sizeof(limits));
    }

    std::string command = "\"" + program_ + "\" " + HexNumber(reinterpret_cast<ULONG_PTR>(dialog)) +
                          " " + HexNumber(reinterpret_cast<ULONG_PTR>(write.get())) + " " +
                          HexNumber(reinterpret_cast<ULONG_PTR>(taken_.get())) + " " +
                          HexNumber(reinterpret_cast<ULONG_PTR>(parent.get()));
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    BOOL created = FALSE;
    // Out of a job the program may be in, where that job lets it; in it otherwise.
    for (DWORD breakaway : {DWORD{CREATE_BREAKAWAY_FROM_JOB}, DWORD{0}}) {
        created = ::CreateProcessA(program_.c_str(), &command[0], nullptr, nullptr, TRUE,
                                   CREATE_SUSPENDED | CREATE_NO_WINDOW | breakaway, nullptr,
                                   nullptr, &startup, &started);
        if (created)
            break;
    }
    ::SetHandleInformation(taken_.get(), HANDLE_FLAG_INHERIT, 0);
    if (!created)
        return false;
    process_.reset(started.hProcess);
    const ui::Handle thread(started.hThread);
    if (job_)
        ::AssignProcessToJobObject(job_.get(), process_.get());
    ::ResumeThread(thread.get());
    startedAt_ = ::GetTickCount64();
    reader_ = HelperReportReader();
    window_ = nullptr;
    return true;
}

void Helper32::Stop(bool failed) {
    if (process_) {
        ::TerminateProcess(process_.get(), 1);
        // Its window goes with it; a moment at most.
        ::WaitForSingleObject(process_.get(), kAnswerWaitMs);
    }
    process_.reset();
    job_.reset();
    pipe_.reset();
    taken_.reset();
    window_ = nullptr;
    windowThread_ = 0;
    modules_.clear();
    if (failed) {
        ++failures_;
        nextStart_ = ::GetTickCount64() + (firstPauseMs_ << (failures_ < 6 ? failures_ - 1 : 5));
    }
}

bool Helper32::Read() {
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr))
            return false; // the helper's end is closed
        if (available == 0)
            break;
        char buffer[16 * 1024];
        DWORD got = 0;
        if (!::ReadFile(pipe_.get(), buffer,
                        available < sizeof(buffer) ? available : sizeof(buffer), &got, nullptr) ||
            !reader_.Feed(buffer, got))
            return false;
    }
    reader_.TakeModules(modules_);
    if (!window_ && reader_.Window()) {
        const HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(*reader_.Window()));
        DWORD owner = 0;
        const DWORD thread = ::GetWindowThreadProcessId(window, &owner);
        // It must be the helper's own.
        if (!thread || owner != ::GetProcessId(process_.get()))
            return false;
        window_ = window;
        windowThread_ = thread;
    }
    // Keys the user typed while the helper had the focus go on to where the focus is now.
    for (const ForwardedKey& key : reader_.TakeKeys()) {
        if (key.message < WM_KEYFIRST || key.message > WM_KEYLAST)
            return false;
        if (const HWND focus = ::GetFocus())
            ::PostMessageA(focus, key.message, static_cast<WPARAM>(key.wParam),
                           static_cast<LPARAM>(key.lParam));
    }
    return true;
}

void Helper32::LendFocus(HWND dialog) {
    // A helper that does not answer would hold the dialog's thread through the focus change.
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerWaitMs,
                               &answer)) {
        Stop(true);
        return;
    }
    if (!KeysMayBeInjected() || ::GetForegroundWindow() != dialog)
        return;
    // The helper's thread joins the dialog's input, and leaves it again, so that the dialog's
    // stays the input in front throughout.
    const DWORD self = ::GetCurrentThreadId();
    if (!::AttachThreadInput(windowThread_, self, TRUE))
        return;
    // The focus leaves and comes back while this thread paints nothing: the control it left
    // looks as it did.
    const HWND focus = ::GetFocus();
    ::ResetEvent(taken_.get());
    ::SetFocus(window_);
    if (::GetFocus() == window_ && PressAndRelease(VK_F11, kHelperKeyMark))
        ::WaitForSingleObject(taken_.get(), kKeyWaitMs);
    ::SetFocus(focus);
    ::AttachThreadInput(windowThread_, self, FALSE);
    // Keys typed meanwhile go on at once.
    if (!Read())
        Stop(true);
}

} // namespace detect
