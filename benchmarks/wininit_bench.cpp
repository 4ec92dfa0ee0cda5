// Times the rename's last resort, the edit of WinInit.Ini in place, on a large file against a
// plain memmove of as many bytes, and prints the ratio.
//   wininit_bench [megabytes]     (default 10)
// The file lies in a temporary folder that the rename takes for the Windows directory, and
// both system moves are made to fail, so every call goes the whole way: open, map, search,
// move the tail, write the line, cut the file back.
#include "benchmarks/clock.h"
#include "tests/support/process.h"
#include "neutralise/MoveFile.h"
#include "neutralise/WinInitEdit.h"
#include "ui/Handles.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 21;

std::string g_windowsDirectory;

BOOL WINAPI FailingMove(LPCSTR, LPCSTR, DWORD) {
    return FALSE;
}
UINT WINAPI BenchWindowsDirectory(LPSTR buffer, UINT size) {
    ::lstrcpynA(buffer, g_windowsDirectory.c_str(), static_cast<int>(size));
    return static_cast<UINT>(g_windowsDirectory.size());
}

struct Timing {
    double median, fastest; // milliseconds
};

template <class Work> Timing Measure(Work work) {
    work(); // once to warm up
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        const double start = bench::Seconds();
        work();
        times.push_back((bench::Seconds() - start) * 1e3);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

// About `bytes` of pending lines, as an installer would leave them.
std::string Lines(size_t bytes) {
    std::string text;
    text.reserve(bytes + 128);
    char line[128];
    for (int i = 0; text.size() < bytes; ++i) {
        const int n =
            std::snprintf(line, sizeof(line),
                          "C:\\PROGRA~1\\APP\\F%07d.NEW=C:\\PROGRA~1\\APP\\F%07d.OLD\r\n", i, i);
        text.append(line, static_cast<size_t>(n));
    }
    return text;
}

// One memmove of the file's whole contents, as the edit makes it when the header comes first,
// through a fresh mapping of the file: the least that an edit in place costs.
void MappedMemmove(const std::string& path, DWORD room) {
    ui::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD size = ::GetFileSize(file.get(), nullptr);
    {
        ui::Handle mapping(
            ::CreateFileMappingA(file.get(), nullptr, PAGE_READWRITE, 0, size + room, nullptr));
        ui::MappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
        char* bytes = static_cast<char*>(view.get());
        std::memmove(bytes + room, bytes, size);
    }
    ::SetFilePointer(file.get(), static_cast<LONG>(size), nullptr, FILE_BEGIN);
    ::SetEndOfFile(file.get());
}

void Print(const char* what, const Timing& timing, const Timing& plain, const Timing& mapped) {
    std::printf("  %-40s %8.2f %8.2f %9.1fx %9.1fx\n", what, timing.median, timing.fastest,
                timing.median / plain.median, timing.median / mapped.median);
}

} // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const size_t size = static_cast<size_t>(megabytes * 1024 * 1024);

    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "snoopsweep-wininit-bench-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(folder.c_str(), nullptr);
    g_windowsDirectory = folder;
    const std::string winInit = folder + "\\WinInit.Ini";
    const std::string source = folder + "\\hook.dll", target = folder + "\\hook.dl_";
    testing_support::WriteFileBytes(source, "module");
    RenameSystemCalls calls;
    calls.moveFileEx = FailingMove;
    calls.getWindowsDirectory = BenchWindowsDirectory;

    // The yardsticks: one memmove of the whole size in memory already touched, and the same
    // through a mapping of a file of that size.
    std::vector<char> buffer(size + 4096, 'x');
    void* (*volatile move)(void*, const void*, size_t) = std::memmove;
    const Timing plain = Measure([&] { move(buffer.data() + 64, buffer.data(), size); });
    const std::string lines = Lines(size);
    const std::string sectionFirst = std::string(neutralise::kRenameHeader) + lines;
    testing_support::WriteFileBytes(winInit, sectionFirst);
    const Timing mapped = Measure([&] { MappedMemmove(winInit, 64); });

    // The edit alone, in memory: header first, so the whole tail moves under the new line.
    std::vector<char> text(sectionFirst.size() + 1024 * 64);
    std::memcpy(text.data(), sectionFirst.data(), sectionFirst.size());
    size_t textSize = sectionFirst.size();
    const Timing inMemory = Measure([&] {
        textSize = neutralise::AddRename(text.data(), textSize, "C:\\PROGRA~1\\SPY\\HOOK.DL_",
                                         "C:\\PROGRA~1\\SPY\\HOOK.DLL")
                       .size;
    });

    // The whole fallback on the file, header first: the tail moves.
    testing_support::WriteFileBytes(winInit, sectionFirst);
    const Timing fileSectionFirst =
        Measure([&] { MoveFileWithFallback(source.c_str(), target.c_str(), calls); });

    // The whole fallback on the file, no header: the first call appends one at the end, later
    // ones search the whole file for it.
    testing_support::WriteFileBytes(winInit, "[Other]\r\n" + lines);
    const Timing fileNoHeader =
        Measure([&] { MoveFileWithFallback(source.c_str(), target.c_str(), calls); });

    std::printf("WinInit.Ini of %.1f MB, %d runs each; times in ms, ratios of the medians\n",
                static_cast<double>(size) / 1048576.0, kRuns);
    std::printf("  %-40s %8s %8s %10s %10s\n", "", "median", "fastest", "/memmove", "/mapped");
    Print("memmove in memory", plain, plain, mapped);
    Print("memmove through a mapping of the file", mapped, plain, mapped);
    Print("edit in memory, header first", inMemory, plain, mapped);
    Print("edit of the file, header first", fileSectionFirst, plain, mapped);
    Print("edit of the file, header at the end", fileNoHeader, plain, mapped);

    ::DeleteFileA(winInit.c_str());
    ::DeleteFileA(source.c_str());
    ::DeleteFileA(target.c_str());
    ::RemoveDirectoryA(folder.c_str());
    return 0;
}
