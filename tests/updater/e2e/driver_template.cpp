#include "driver_template.h"

#include <windows.h>

#include <cstdio>
#include <cwctype>

#include "driver_report.h"

namespace {

// A bounds-checked reader over a resource's bytes.
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }

    uint32_t number(DWORD width) {
        if (!ok_ || size_ - position_ < width) {
            ok_ = false;
            return 0;
        }
        uint32_t value = 0;
        for (DWORD i = 0; i < width; ++i) {
            value |= static_cast<uint32_t>(data_[position_ + i]) << (8 * i);
        }
        position_ += width;
        return value;
    }
    uint16_t word() { return static_cast<uint16_t>(number(2)); }
    uint32_t dword() { return number(4); }
    int16_t coordinate() { return static_cast<int16_t>(word()); }

    std::wstring text() {
        std::wstring out;
        for (wchar_t c = word(); ok_ && c != L'\0'; c = word()) {
            out += c;
        }
        return out;
    }

    // A name or an ordinal (0xFFFF, then the number), as "#<number>".
    std::wstring name_or_ordinal() {
        if (!ok_ || size_ - position_ < 2) {
            ok_ = false;
            return std::wstring();
        }
        if (data_[position_] == 0xFF && data_[position_ + 1] == 0xFF) {
            word();
            return L"#" + std::to_wstring(word());
        }
        return text();
    }

    void align(DWORD boundary) {
        position_ = (position_ + boundary - 1) / boundary * boundary;
        if (position_ > size_) {
            ok_ = false;
        }
    }
    void skip(DWORD count) {
        if (size_ - position_ < count) {
            ok_ = false;
            return;
        }
        position_ += count;
    }

  private:
    const BYTE* data_;
    DWORD size_;
    DWORD position_ = 0;
    bool ok_ = true;
};

std::wstring class_name(const std::wstring& stored) {
    static const struct {
        const wchar_t* atom;
        const wchar_t* name;
    } predefined[] = {{L"#128", L"button"},  {L"#129", L"edit"},      {L"#130", L"static"},
                      {L"#131", L"listbox"}, {L"#132", L"scrollbar"}, {L"#133", L"combobox"}};
    for (const auto& entry : predefined) {
        if (stored == entry.atom) {
            return entry.name;
        }
    }
    std::wstring lower = stored;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return lower;
}

std::string hex32(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
    return text;
}

constexpr WORD ANY_LANGUAGE = 0xFFFF;

struct LoadedResource {
    HMODULE module = nullptr;
    const BYTE* data = nullptr;
    DWORD size = 0;
    ~LoadedResource() {
        if (module) {
            FreeLibrary(module);
        }
    }
};

bool load_resource(const std::wstring& exe, LPCWSTR type, LPCWSTR name, WORD language,
                   LoadedResource& resource, std::string& error) {
    resource.module = LoadLibraryExW(exe.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!resource.module) {
        error = "cannot load the executable's resources";
        return false;
    }
    HRSRC found = language == ANY_LANGUAGE ? FindResourceW(resource.module, name, type)
                                           : FindResourceExW(resource.module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(resource.module, found) : nullptr;
    if (!loaded) {
        error = "resource not found in the expected language";
        return false;
    }
    resource.data = static_cast<const BYTE*>(LockResource(loaded));
    resource.size = SizeofResource(resource.module, found);
    return resource.data != nullptr;
}

} // namespace

bool dump_template(const std::wstring& exe, Report& report, std::string& error) {
    LoadedResource resource;
    if (!load_resource(exe, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(101),
                       MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), resource, error)) {
        return false;
    }
    TemplateReader in(resource.data, resource.size);
    uint16_t version = in.word();
    uint16_t signature = in.word();
    if (!in.ok() || version != 1 || signature != 0xFFFF) {
        error = "dialog 101 is not an extended template";
        return false;
    }
    report.add("template.help_id", hex32(in.dword()));
    report.add("template.exstyle", hex32(in.dword()));
    uint32_t style = in.dword();
    report.add("template.style", hex32(style));
    uint16_t count = in.word();
    int16_t x = in.coordinate(), y = in.coordinate(), cx = in.coordinate(), cy = in.coordinate();
    report.add("template.rect", std::to_string(x) + "," + std::to_string(y) + "," +
                                    std::to_string(cx) + "," + std::to_string(cy));
    report.add("template.menu", in.name_or_ordinal());
    report.add("template.class", in.name_or_ordinal());
    report.add("template.caption", in.text());
    if (style & DS_SETFONT) {
        uint16_t points = in.word();
        uint16_t weight = in.word();
        unsigned italic = in.number(1);
        unsigned charset = in.number(1);
        std::wstring face = in.text();
        report.add("template.font", std::to_string(points) + "|" + std::to_string(weight) + "|" +
                                        std::to_string(italic) + "|" + std::to_string(charset) +
                                        "|" + to_utf8(face));
    }
    report.add("template.controls", static_cast<long long>(count));
    for (uint16_t i = 0; i < count && in.ok(); ++i) {
        in.align(4);
        in.dword(); // help id
        uint32_t exstyle = in.dword();
        uint32_t control_style = in.dword();
        int16_t cx0 = in.coordinate(), cy0 = in.coordinate();
        int16_t cw = in.coordinate(), ch = in.coordinate();
        int32_t id = static_cast<int32_t>(in.dword());
        std::wstring kind = class_name(in.name_or_ordinal());
        std::wstring text = in.name_or_ordinal();
        in.skip(in.word()); // creation data
        report.add("template.control." + std::to_string(i),
                   std::to_string(id) + "|" + to_utf8(kind) + "|" + to_utf8(text) + "|" +
                       std::to_string(cx0) + "," + std::to_string(cy0) + "," + std::to_string(cw) +
                       "," + std::to_string(ch) + "|" + hex32(control_style) + "|" +
                       hex32(exstyle));
    }
    if (!in.ok()) {
        error = "dialog 101 is cut short";
        return false;
    }
    return true;
}

bool save_manifest(const std::wstring& exe, const std::wstring& output, std::string& error) {
    LoadedResource resource;
    // Windows takes the manifest whatever its language.
    if (!load_resource(exe, MAKEINTRESOURCEW(24) /* RT_MANIFEST */, MAKEINTRESOURCEW(1),
                       ANY_LANGUAGE, resource, error)) {
        return false;
    }
    FILE* file = _wfopen(output.c_str(), L"wb");
    if (!file) {
        error = "cannot write the manifest copy";
        return false;
    }
    bool written = fwrite(resource.data, 1, resource.size, file) == resource.size;
    written = fclose(file) == 0 && written;
    if (!written) {
        error = "cannot write the manifest copy";
    }
    return written;
}
