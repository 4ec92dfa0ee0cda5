// Times how the list fills with remembered entries, as the first tick and "Analizza" fill it,
// for a growing number of entries whose files do not exist (as after a Disable has renamed
// them): the version reads of the entries' files alone; the rows put into the sorted list view
// from the first key to the last and from the last to the first; and ShowListedEntries whole.
//   fill_bench [entries...]        (default: 1000 10000 100000)
// Rows from the first key on are timed up to 20000 entries only: the list view looks for each
// row's place from the top, so that order costs time in proportion to the square of the count.
#include "benchmarks/clock.h"
#include "detect/ScanCycle.h"
#include "detect/ListViewThreatList.h"
#include "detect/Win32ScanPlatform.h"
#include "detect/ThreatRows.h"
#include "detect/TrustMap.h"
#include "ui/WinApp.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kMostInKeyOrder = 20000;

class NoWindow : public ui::Dialog {
public:
    NoWindow() : ui::Dialog(0) {}
};

std::string EntryPath(int i) {
    char path[64];
    std::snprintf(path, sizeof(path), "C:\\dir\\f%06d.dll", i);
    return path;
}

// A list view as the dialog has it: report view, sorted, four columns.
class List {
public:
    List() {
        window_ = ::CreateWindowExA(0, WC_LISTVIEWA, "", LVS_REPORT | LVS_SORTASCENDING, 0, 0, 600,
                                    300, nullptr, nullptr, nullptr, nullptr);
        list_.Attach(window_);
        for (int column = 0; column < 4; ++column)
            list_.InsertColumn(column, "c", LVCFMT_LEFT, 100);
    }
    ~List() { ::DestroyWindow(window_); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    ui::ListCtrl& Control() { return list_; }

private:
    HWND window_;
    ui::ListCtrl list_;
};

// Seconds to insert `count` rows, taking the entries' numbers from `next`.
template <class Next> double InsertRows(int count, Next next) {
    List view;
    detect::ListViewThreatList list(view.Control());
    const double start = bench::Seconds();
    list.BeginUpdate();
    for (int i = 0; i < count; ++i)
        list.Insert(detect::MakeRow(detect::RowState::Blocked, EntryPath(next(i)), "", ""));
    list.EndUpdate();
    return bench::Seconds() - start;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1000, 10000, 100000};

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    NoWindow noWindow;
    detect::Win32ScanPlatform system(noWindow);

    std::printf("%8s %12s %14s %14s %12s %8s %10s\n", "entries", "versions s", "rows first-on s",
                "rows last-on s", "whole s", "rows", "find ms");
    for (const int count : counts) {
        double start = bench::Seconds();
        for (int i = 0; i < count; ++i)
            system.Vendor(EntryPath(i));
        const double versions = bench::Seconds() - start;

        char firstOn[32] = "-";
        if (count <= kMostInKeyOrder)
            std::snprintf(firstOn, sizeof(firstOn), "%.2f",
                          InsertRows(count, [](int i) { return i; }));
        const double lastOn = InsertRows(count, [count](int i) { return count - 1 - i; });

        List view;
        detect::ListViewThreatList list(view.Control());
        detect::TrustMap map;
        for (int i = 0; i < count; ++i)
            map.Set(EntryPath(i), detect::kBlocked);
        detect::ScanCycle scan(map, list, system);
        start = bench::Seconds();
        scan.ShowListedEntries();
        const double whole = bench::Seconds() - start;
        std::vector<double> finds;
        for (int i = 0; i < 11; ++i) {
            start = bench::Seconds();
            list.Find("C:\\spy\\hook.dll");
            finds.push_back(bench::Seconds() - start);
        }
        std::sort(finds.begin(), finds.end());
        std::printf("%8d %12.2f %14s %14.2f %12.2f %8d %10.2f\n", count, versions, firstOn, lastOn,
                    whole, view.Control().GetItemCount(), finds[finds.size() / 2] * 1e3);
    }
    return 0;
}
