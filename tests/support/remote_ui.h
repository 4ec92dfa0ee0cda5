// Seeing and driving another process's windows as a user, or a UI-automation tool, would:
// find its windows, read texts, press buttons, read a list view's columns and rows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// Top-level windows of a process with the given class (e.g. "#32770") and caption; an empty
// caption matches any.
std::vector<HWND> TopLevelWindows(DWORD pid, const std::string& className,
                                  const std::string& caption = std::string());
// Waits for such a window; null when none showed within the limit.
HWND WaitForWindow(DWORD pid, const std::string& className, const std::string& caption);

std::string WindowText(HWND hwnd);
std::string ClassName(HWND hwnd);
// Child windows of a dialog, in Z order (the template's order).
std::vector<HWND> Children(HWND parent);

// A click as the user makes it, posted so that a modal box it opens does not block us.
void PostClick(HWND button);

struct RemoteColumn {
    std::string heading;
    int width = 0;
    int format = 0;
};

struct RemoteRow {
    std::vector<std::string> texts; // one per column
    int image = -1;
    LPARAM data = 0;
};

// A list view of another process, read through memory lent in that process.
std::vector<RemoteColumn> ReadColumns(HWND list);
// Rows from `first` on, `count` of them at most (all when negative).
std::vector<RemoteRow> ReadRows(HWND list, int columns = 4, int first = 0, int count = -1);

// Clicks row `index` of another process's list view, as the mouse would, left of its text;
// twice in a row for a double-click.
bool ClickRow(HWND list, int index, bool twice = false);

// The text of a message box (its static text control).
std::string MessageBoxText(HWND box);

// Saves what the window shows, frame included, as a 24-bit BMP file.
bool SaveWindowBitmap(HWND hwnd, const std::string& path);

} // namespace testing_support
