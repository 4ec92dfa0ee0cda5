// The keyboard probes of the real program: how long until a keylogger that loads no DLL has its
// row (the one that names its program, or the kind alone when its program is trusted), when it
// was already running as the window came to the front and when it starts while the window is
// in front; how much of one core the program takes with every probe at work; and how many rows
// appear on a clean system with both cores busy.
//   probe_bench [rounds [cpu-seconds [watch-seconds]]]      (defaults: 5, 60, 600)
#include "benchmarks/clock.h"
#include "benchmarks/program_cpu.h"
#include "base/Text.h"
#include "detect/ThreatRows.h"
#include "res/resource.h"
#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"
#include "ui/Handles.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

bool Listed(HWND list, const std::string& key) {
    for (const auto& row : ReadRows(list))
        if (base::ToLowerAscii(row.texts[0]) == base::ToLowerAscii(key))
            return true;
    return false;
}

// Starts the program and waits for its first tick, which shows the remembered entry.
bool LaunchCalibrated(Program& program, const std::string& folder) {
    WriteFileBytes(folder + "leciti.txt", "C:\\bench\\remembered.dll\r\n");
    return program.Launch() &&
           WaitFor([&] { return !ReadRows(program.Control(IDC_THREAT_LIST)).empty(); });
}

void Quit(Program& program) {
    PostClick(program.Control(IDOK));
    if (!program.Process().WaitForExit())
        program.Process().Terminate();
}

void PrintMedian(const char* what, std::vector<double> seconds) {
    if (seconds.empty())
        return;
    std::sort(seconds.begin(), seconds.end());
    const double median = bench::Median(seconds);
    std::printf("%-72s median %.2f s, min %.2f s, max %.2f s over %zu\n", what, median,
                seconds.front(), seconds.back(), seconds.size());
}

// A window of the bench's own, to put in front of the program; a thread of its own answers
// its messages, as the program's activation asks of it while the bench waits.
class FrontWindow {
public:
    FrontWindow() {
        ready_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(::CreateThread(nullptr, 0, Main, this, 0, &threadId_));
        if (thread_)
            ::WaitForSingleObject(ready_.get(), 5000);
    }
    ~FrontWindow() {
        if (!thread_)
            return;
        ::PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        ::WaitForSingleObject(thread_.get(), 5000);
    }
    FrontWindow(const FrontWindow&) = delete;
    FrontWindow& operator=(const FrontWindow&) = delete;
    bool ToFront() { return window_ && BringToFront(window_); }
    static bool BringToFront(HWND window) {
        ::SetForegroundWindow(window);
        return WaitFor([&] { return ::GetForegroundWindow() == window; }, 5000);
    }

private:
    static DWORD WINAPI Main(void* parameter) {
        auto* self = static_cast<FrontWindow*>(parameter);
        self->window_ =
            ::CreateWindowExA(0, "STATIC", "probe_bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              200, 100, nullptr, nullptr, nullptr, nullptr);
        ::SetEvent(self->ready_.get());
        MSG msg;
        while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (self->window_)
            ::DestroyWindow(self->window_);
        return 0;
    }

    ui::Handle ready_;
    ui::Handle thread_;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// One row to time: a test program in `mode`, a copy of `fixture`, and the row it should give.
struct Case {
    const char* mode;
    const char* kind;
    bool named;          // the row names the program; else the kind alone
    const char* fixture; // key_spy_ms.exe: its vendor is trusted, so the kind alone is listed
};

// Seconds from the moment the keylogger is at work and the window comes to the front
// (`alreadyRunning`), or from the keylogger's start with the window in front, to its row;
// negative when it failed.
double TimeToRow(const std::string& folder, const std::string& spies, const Case& row,
                 bool alreadyRunning) {
    Program program(folder);
    if (!LaunchCalibrated(program, folder)) {
        std::fprintf(stderr, "Snoopsweep did not start\n");
        return -1;
    }
    TestKeylogger spy;
    const std::string spyFolder = spies + row.mode + (row.named ? "-named" : "-kind");
    ::CreateDirectoryA(spyFolder.c_str(), nullptr);
    const std::string path = spy.CopySpy(spyFolder + "\\spia.exe", row.fixture);
    if (path.empty()) {
        std::fprintf(stderr, "%s could not be copied\n", row.fixture);
        return -1;
    }
    const std::string key = row.named ? detect::NamedKey(path, row.kind) : row.kind;
    double start = 0;
    if (alreadyRunning) {
        // Put behind another window, the keylogger starts and settles; then the window
        // comes to the front.
        FrontWindow other;
        if (!other.ToFront()) {
            std::fprintf(stderr, "the bench's window did not come to the front\n");
            return -1;
        }
        if (!spy.StartSpyFromShell(row.mode, path)) {
            std::fprintf(stderr, "%s did not start\n", row.mode);
            return -1;
        }
        ::Sleep(2000);
        start = bench::Seconds();
        if (!FrontWindow::BringToFront(program.Dialog())) {
            std::fprintf(stderr, "Snoopsweep did not come to the front\n");
            return -1;
        }
    } else {
        // A while in front first, as a user would have it: its rounds go on as they do.
        ::Sleep(3000);
        start = bench::Seconds();
        if (!spy.StartSpyFromShell(row.mode, path)) {
            std::fprintf(stderr, "%s did not start\n", row.mode);
            return -1;
        }
    }
    if (!WaitFor([&] { return Listed(program.Control(IDC_THREAT_LIST), key); }, 60000)) {
        std::fprintf(stderr, "%s not listed within 60 s; the list:\n", key.c_str());
        for (const auto& listed : ReadRows(program.Control(IDC_THREAT_LIST)))
            std::fprintf(stderr, "  %s |%s|\n", listed.texts[0].c_str(), listed.texts[1].c_str());
        return -1;
    }
    const double seconds = bench::Seconds() - start;
    Quit(program);
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int cpuSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int watchSeconds = argc > 3 ? std::atoi(argv[3]) : 600;
    ScratchFolder folder("probe-bench");
    ScratchFolder spies("probe-bench-spies");

    // Time to each row, with the keylogger already running when the window comes to the front
    // and with it started while the window is in front; each started from a shell, as a user
    // would.
    const Case cases[] = {
        {"low-level-hook", detect::kLowLevelHookKey, true, "key_spy.exe"},
        {"low-level-hook", detect::kLowLevelHookKey, false, "key_spy_ms.exe"},
        {"raw-input", detect::kRawInputSinkKind, true, "key_spy.exe"},
        {"grab-keys", detect::kHotkeyGrabberKey, true, "key_spy.exe"},
        {"grab-keys", detect::kHotkeyGrabberKey, false, "key_spy_ms.exe"},
        {"poll-all", detect::kKeyStatePollerKey, false, "key_spy.exe"},
    };
    for (const bool alreadyRunning : {true, false}) {
        for (const Case& row : cases) {
            std::vector<double> times;
            for (int round = 0; round < rounds; ++round) {
                const double seconds = TimeToRow(folder.Path(), spies.Path(), row, alreadyRunning);
                if (seconds < 0)
                    return 1;
                times.push_back(seconds);
            }
            const std::string what =
                std::string(alreadyRunning ? "running, to front: " : "started in front: ") +
                (row.named ? "<spy> " : "") + row.kind;
            PrintMedian(what.c_str(), times);
        }
    }

    // The CPU share with every probe at work and nothing to find, then the watch for false
    // findings with both cores kept busy by other programs.
    Program program(folder.Path());
    if (!LaunchCalibrated(program, folder.Path()))
        return 1;
    const HWND list = program.Control(IDC_THREAT_LIST);
    const bool active = ::GetForegroundWindow() == program.Dialog();
    const double cpuStart = bench::ProgramCpuSeconds(program.Path(), program.Process().Handle());
    const double wallStart = bench::Seconds();
    ::WaitForSingleObject(program.Process().Handle(), static_cast<DWORD>(cpuSeconds) * 1000);
    const double cpu =
        bench::ProgramCpuSeconds(program.Path(), program.Process().Handle()) - cpuStart;
    const double wall = bench::Seconds() - wallStart;
    std::printf("CPU while %s, all probes on, for %.0f s: %.3f s, %.2f%% of one core\n",
                active ? "active" : "NOT active", wall, cpu, 100.0 * cpu / wall);

    TestKeylogger busy[2];
    for (TestKeylogger& spinner : busy)
        spinner.StartSpy("busy");
    size_t falseFindings = 0;
    const double watchStart = bench::Seconds();
    while (bench::Seconds() - watchStart < watchSeconds) {
        // Only the remembered entry belongs in the list.
        falseFindings = std::max(falseFindings, ReadRows(list).size() - 1);
        ::Sleep(1000);
    }
    const bool stillActive = ::GetForegroundWindow() == program.Dialog();
    std::printf("false findings over %d s, both cores busy, window %s: %zu\n", watchSeconds,
                stillActive ? "active" : "NOT active", falseFindings);
    for (const auto& row : ReadRows(list))
        std::printf("  row: %s |%s|\n", row.texts[0].c_str(), row.texts[1].c_str());
    Quit(program);
    return 0;
}
