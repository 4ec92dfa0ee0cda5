// The program's value under the machine-wide Run key, as a test sees and sets it.
#pragma once

#include <string>

namespace testing_support {

// True when the value exists; its data, type and stored byte count are returned.
bool ReadRunValue(std::string* data = nullptr, unsigned long* type = nullptr,
                  unsigned long* size = nullptr);
bool WriteRunValue(const std::string& data);
void DeleteRunValue();

} // namespace testing_support
