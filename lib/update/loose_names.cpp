#include "update/loose_names.h"

#include <cctype>

#include "support/safe_names.h"
#include "update/update_paths.h"

namespace {

std::string upper(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

bool loose_name_allowed(const std::string& name, std::string& why) {
    if (!is_safe_component(name, why)) {
        return false;
    }
    // Windows compares names without regard to letter case, and the short
    // names of "Tessavane.*" begin with "TESSAV~".
    const std::string key = upper(name);
    for (const char* own :
         {DATA_ARCHIVE_NAME, INTERMEDIATE_ARCHIVE_NAME, LOOSE_PARTIAL_NAME, UPDATE_LOCK_NAME}) {
        if (key == upper(own)) {
            why = "the updater's own file";
            return false;
        }
    }
    if (key.rfind("TESSAV~", 0) == 0) {
        why = "a short name of the updater's own files";
        return false;
    }
    return true;
}
