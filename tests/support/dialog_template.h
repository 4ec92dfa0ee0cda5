// Reads an extended dialog template (DLGTEMPLATEEX) as the resource compiler stored it, so
// that tests can check a program's dialogs control by control.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct TemplateItem {
    uint32_t id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string className; // predefined classes by name: "Button", "Static", ...
    std::string text;      // an icon given by ordinal reads "#128"
};

struct DialogTemplate {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int pointSize = 0;
    std::string typeface;
    std::vector<TemplateItem> items;
};

// Parses the bytes of an RT_DIALOG resource; false when they are not a well-formed
// extended template.
bool ParseDialogTemplate(const uint8_t* bytes, size_t size, DialogTemplate& out);

// Loads dialog `id` from the executable at `path` (as data, nothing runs) and parses it.
bool LoadDialogTemplate(const std::string& path, int id, DialogTemplate& out);

// Loads string `id` of the executable at `path`; empty when it has none.
std::string LoadStringResource(const std::string& path, int id);

} // namespace testing_support
