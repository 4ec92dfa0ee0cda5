// The error raised when a file cannot be opened, created or written.
//
// Command handlers let it escape; the dialog layer reports it to the user and the
// dialog carries on (see ui/Dialog.h). Portable: no Win32 types.
#pragma once

#include <stdexcept>
#include <string>

namespace base {

class FileError : public std::runtime_error {
public:
    FileError(std::string fileName, unsigned long systemError)
        : std::runtime_error("file error: " + fileName), fileName_(std::move(fileName)),
          systemError_(systemError) {}

    const std::string& FileName() const noexcept { return fileName_; }
    // The system's error code (GetLastError) when the operation failed.
    unsigned long SystemError() const noexcept { return systemError_; }

private:
    std::string fileName_;
    unsigned long systemError_;
};

// The text of the box that reports a file error: the file's name and the system's own
// description of the error (empty when the system has none).
std::string DescribeFileError(const std::string& fileName, unsigned long systemError,
                              const std::string& systemText);

} // namespace base
