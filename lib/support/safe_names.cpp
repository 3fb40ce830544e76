#include "support/safe_names.h"

#include <cctype>

#include "support/text.h"

namespace {

bool is_reserved_device(const std::string& component) {
    // Windows resolves these names, with any extension, to devices.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    for (char& c : base) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (base == device) {
            return true;
        }
    }
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        base[3] >= '0' && base[3] <= '9') {
        return true;
    }
    return false;
}

} // namespace

bool is_safe_component(const std::string& component, std::string& why) {
    if (component.empty()) {
        why = "empty name component";
        return false;
    }
    if (component == "." || component == "..") {
        why = "name component \"" + component + "\"";
        return false;
    }
    for (size_t i = 0; i < component.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(component[i]);
        if (text_is_lead_byte(c)) {
            if (i + 1 >= component.size() ||
                !text_is_trail_byte(static_cast<unsigned char>(component[i + 1]))) {
                why = "a double-byte character cut short";
                return false;
            }
            ++i; // the trail byte may be 0x5C and is not a backslash
            continue;
        }
        if (c == '/') {
            why = "slash in the name";
            return false;
        }
        if (c < 0x20 || c == 0x7F) {
            why = "control character in the name";
            return false;
        }
        switch (c) {
        case '\\':
            why = "backslash in the name";
            return false;
        case ':':
            why = "colon in the name";
            return false;
        case '<':
        case '>':
        case '"':
        case '|':
        case '?':
        case '*':
            why = std::string("character '") + char(c) + "' in the name";
            return false;
        default:
            break;
        }
    }
    char last = component.back();
    if (last == '.' || last == ' ') {
        why = "name ends in a dot or a blank";
        return false;
    }
    if (is_reserved_device(component)) {
        why = "reserved device name";
        return false;
    }
    return true;
}

bool split_safe_path(const std::string& archive_path, std::vector<std::string>& components,
                     std::string& why) {
    components.clear();
    if (archive_path.empty() || archive_path[0] != '/') {
        why = "not an absolute archive path";
        return false;
    }
    size_t start = 1;
    while (true) {
        size_t slash = archive_path.find('/', start);
        std::string component = archive_path.substr(start, slash - start);
        if (!is_safe_component(component, why)) {
            return false;
        }
        components.push_back(component);
        if (slash == std::string::npos) {
            return true;
        }
        start = slash + 1;
    }
}
