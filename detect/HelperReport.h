// What the 32-bit helper tells the 64-bit program, one line a record, over a pipe that only
// the program reads:
//   "W <window>"                 its window, a child of the program's dialog (hexadecimal)
//   "M <path>"                   a module loaded in the helper (its own program file aside)
//   "E"                          the end of one complete list of modules
//   "K <message> <wParam> <lParam>"  a key message the helper took that was not its bait key
//                                (the user typed while its window had the focus): the program
//                                hands it on to the control it was meant for (hexadecimal)
// Each line ends with LF. Portable: no Win32 types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace detect {

// The numbers of the records and of the helper's command line: lower-case hexadecimal, 1 to 16
// digits; anything else parses as none.
std::string HexNumber(uint64_t value);
std::optional<uint64_t> ParseHexNumber(const std::string& text);

// The lines the helper writes.
std::string WindowRecord(uint64_t window);
std::string ModuleRecord(const std::string& path);
std::string EndRecord();
std::string KeyRecord(uint32_t message, uint64_t wParam, uint64_t lParam);

struct ForwardedKey {
    uint32_t message = 0;
    uint64_t wParam = 0;
    uint64_t lParam = 0;
};

// Reads the helper's records from the bytes as they come, in pieces of any size.
class HelperReportReader {
public:
    // Takes the next bytes. False when they do not read as the helper's records (a line too
    // long, an unknown record, a malformed number): the helper is then not to be trusted.
    bool Feed(const char* bytes, size_t size);

    // The helper's window, once it said.
    std::optional<uint64_t> Window() const { return window_; }
    // The modules of the last complete list; true when a new one came since the last call.
    bool TakeModules(std::vector<std::string>& modules);
    // The keys to hand on, in their order; taken away by the call.
    std::vector<ForwardedKey> TakeKeys();

    // Longest line taken: a path of the system's longest, with room for the record's tag.
    static constexpr size_t kMaxLine = 1024;
    // Most modules in one list.
    static constexpr size_t kMaxModules = 4096;

private:
    bool Line(const std::string& line);

    std::string partial_;
    std::optional<uint64_t> window_;
    std::vector<std::string> building_;
    std::vector<std::string> complete_;
    bool fresh_ = false;
    std::vector<ForwardedKey> keys_;
};

} // namespace detect
