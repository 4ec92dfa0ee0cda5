#include "tests/support/dialog_template.h"

#include "ui/Handles.h"

#include <windows.h>

namespace testing_support {

namespace {

class Reader {
public:
    Reader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    bool Ok() const { return ok_; }
    uint16_t Word() {
        if (position_ + 2 > size_) {
            ok_ = false;
            return 0;
        }
        const uint16_t value =
            static_cast<uint16_t>(bytes_[position_] | bytes_[position_ + 1] << 8);
        position_ += 2;
        return value;
    }
    uint32_t Dword() {
        const uint32_t low = Word();
        return low | static_cast<uint32_t>(Word()) << 16;
    }
    int Short() { return static_cast<int16_t>(Word()); }
    void Skip(size_t count) {
        if (position_ + count > size_)
            ok_ = false;
        else
            position_ += count;
    }
    void AlignDword() { Skip((4 - position_ % 4) % 4); }
    std::string WideString() {
        std::string text;
        for (uint16_t c = Word(); ok_ && c != 0; c = Word())
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }
    // A string or an ordinal (0xFFFF, value): ordinals read "#value".
    std::string StringOrOrdinal() {
        const uint16_t first = Word();
        if (first == 0)
            return std::string();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string text(1, first < 0x80 ? static_cast<char>(first) : '?');
        return text + WideString();
    }

private:
    const uint8_t* bytes_;
    size_t size_;
    size_t position_ = 0;
    bool ok_ = true;
};

std::string PredefinedClass(const std::string& name) {
    static const char* const kNames[] = {"Button",  "Edit",      "Static",
                                         "ListBox", "ScrollBar", "ComboBox"};
    if (name.size() > 1 && name[0] == '#') {
        const int ordinal = std::stoi(name.substr(1));
        if (ordinal >= 0x80 && ordinal <= 0x85)
            return kNames[ordinal - 0x80];
    }
    return name;
}

} // namespace

bool ParseDialogTemplate(const uint8_t* bytes, size_t size, DialogTemplate& out) {
    Reader reader(bytes, size);
    if (reader.Word() != 1 || reader.Word() != 0xFFFF)
        return false;
    reader.Dword(); // help id
    out.exStyle = reader.Dword();
    out.style = reader.Dword();
    const int count = reader.Word();
    out.x = reader.Short();
    out.y = reader.Short();
    out.cx = reader.Short();
    out.cy = reader.Short();
    reader.StringOrOrdinal(); // menu
    reader.StringOrOrdinal(); // class
    out.caption = reader.WideString();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = reader.Word();
        reader.Word();  // weight
        reader.Skip(2); // italic, character set
        out.typeface = reader.WideString();
    }
    for (int index = 0; index < count && reader.Ok(); ++index) {
        reader.AlignDword();
        TemplateItem item;
        reader.Dword(); // help id
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.x = reader.Short();
        item.y = reader.Short();
        item.cx = reader.Short();
        item.cy = reader.Short();
        item.id = reader.Dword();
        item.className = PredefinedClass(reader.StringOrOrdinal());
        item.text = reader.StringOrOrdinal();
        reader.Skip(reader.Word()); // creation data
        out.items.push_back(item);
    }
    return reader.Ok() && static_cast<int>(out.items.size()) == count;
}

bool LoadDialogTemplate(const std::string& path, int id, DialogTemplate& out) {
    ui::Library module(::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return false;
    HRSRC resource = ::FindResourceA(module.get(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    HGLOBAL loaded = resource ? ::LoadResource(module.get(), resource) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes)
        return false;
    return ParseDialogTemplate(static_cast<const uint8_t*>(bytes),
                               ::SizeofResource(module.get(), resource), out);
}

std::string LoadStringResource(const std::string& path, int id) {
    ui::Library module(::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    char text[512] = {};
    const int length =
        module ? ::LoadStringA(module.get(), static_cast<UINT>(id), text, sizeof(text)) : 0;
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

} // namespace testing_support
