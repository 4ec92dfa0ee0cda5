// The disabled-name rule, on any bytes as the path: the name is the path with one byte, the
// third after the last '.' (the third of the path when it has no '.'), turned into '_', and
// there is no name when that byte lies past the path's end or is a '_' already.
#include "neutralise/Commands.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "disabled_name_fuzz: %s\n", what);
        std::abort();
    }
}

// The place of the byte to replace, counted from the path's start: found walking back from
// the end, as one would by hand.
size_t PlaceOf(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (path[i - 1] == '.')
            return i - 1 + 3;
    }
    return 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> name = neutralise::DisabledName(path);

    const size_t place = PlaceOf(path);
    if (place >= path.size()) {
        Require(!name, "a name for a path too short to have the byte");
        return 0;
    }
    if (path[place] == '_') {
        Require(!name, "a name for a path that is its own disabled name");
        return 0;
    }
    Require(name.has_value(), "no name although the byte is there");
    Require(name->size() == path.size(), "the name's length differs");
    for (size_t i = 0; i < path.size(); ++i)
        Require((*name)[i] == (i == place ? '_' : path[i]), "the name differs from the rule");
    // A disabled name has no disabled name of its own.
    Require(!neutralise::DisabledName(*name), "a disabled name can be disabled again");
    return 0;
}
