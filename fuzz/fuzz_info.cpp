// The version information of an archive: "info.txt" read from a memory file
// system and from archives on disk, the version numbers, and the decision
// that the updater takes from both archives.
//
// Input: one byte of flags, then the installed archive's "info.txt", then
// optionally "\0\0" and the patch's "info.txt". Flag bit 0 runs the whole
// decision over real archives; bits 1 and 2 leave out the installed data or
// the patch archive.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fs/filesystem.h"
#include "fuzz_support.h"
#include "support/recording_view.h"
#include "update/update_logic.h"
#include "update/update_texts.h"
#include "update/version_info.h"

namespace {

constexpr uint8_t FLAG_DECIDE = 1;
constexpr uint8_t FLAG_NO_INSTALLED = 2;
constexpr uint8_t FLAG_NO_PATCH = 4;

struct Fields {
    std::string identifer, version, attribute;
};

// What "info.txt" sets, worked out on strings: each line (as the line
// reader cuts them) read as a C string, key up to the first "=", value up
// to the next one.
Fields reference_fields(const std::string& text, Fields fields) {
    for (std::string line : reference_lines(text, 256)) {
        line = line.substr(0, line.find('\0'));
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        value = value.substr(0, value.find('='));
        if (key == "identifer") {
            fields.identifer = value;
        } else if (key == "version") {
            fields.version = value;
        } else if (key == "attribute") {
            fields.attribute = value;
        }
    }
    return fields;
}

// atof as the C library has it, kept from hexadecimal numbers, infinities
// and NaNs, which the version reader does not take.
double reference_version(const std::string& text) {
    std::string cut;
    for (char c : text) {
        if (c == '\0' || !std::strchr(" \t\n\v\f\r+-0123456789.eE", c)) {
            break;
        }
        cut += c;
    }
    return std::strtod(cut.c_str(), nullptr);
}

void check_version(const std::string& text) {
    double got = parse_version(text.c_str());
    double expected = reference_version(text);
    if (!(got == expected) || std::signbit(got) != std::signbit(expected)) {
        fuzz_fail("parse_version(\"%s\") = %.17g, atof gives %.17g", text.c_str(), got, expected);
    }
}

void check_field(const char* field, const std::string& expected, const char* key) {
    if (strnlen(field, VERSION_FIELD_SIZE) == VERSION_FIELD_SIZE) {
        fuzz_fail("field %s is not terminated", key);
    }
    if (expected != field) {
        fuzz_fail("field %s is \"%s\", expected \"%s\"", key, field, expected.c_str());
    }
}

// Reads text as "info.txt" of a memory file system into a record whose
// fields already hold something, and compares with the reference.
Fields read_from_memory(const std::string& text) {
    FileSystem* fs = memory_fs_open({{"/info.txt", text, false}});
    VersionInfo info;
    std::memset(&info, 'x', sizeof info);
    std::strcpy(info.identifer, "old identifer");
    std::strcpy(info.version, "old version");
    std::strcpy(info.attribute, "old attribute");
    if (!read_version_info(fs, &info)) {
        fuzz_fail("info.txt in memory is not read");
    }
    fs_close(fs);
    Fields expected = reference_fields(text, {"old identifer", "old version", "old attribute"});
    check_field(info.identifer, expected.identifer, "identifer");
    check_field(info.version, expected.version, "version");
    check_field(info.attribute, expected.attribute, "attribute");
    return reference_fields(text, {});
}

std::string shown(const Fields& fields) {
    char text[2 * VERSION_FIELD_SIZE + 16];
    std::snprintf(text, sizeof text, TEXT_VERSION_FORMAT, fields.version.c_str(),
                  fields.attribute.c_str());
    return text;
}

void expect_text(RecordingView& view, int control, const std::string& expected) {
    if (view.texts[control] != expected) {
        fuzz_fail("control %d shows \"%s\", expected \"%s\"", control, view.texts[control].c_str(),
                  expected.c_str());
    }
}

void place_archive(const std::string& path, const std::string& info, bool present) {
    std::remove(path.c_str());
    std::string error;
    if (present && !fuzz_pack({{"/info.txt", info, false}}, path, &error)) {
        fuzz_fail("cannot pack %s: %s", path.c_str(), error.c_str());
    }
}

void check_decision(const std::string& installed_text, const Fields& installed,
                    const std::string& patch_text, const Fields& patch, uint8_t flags) {
    static const std::string folder = fuzz_temp_dir("info");
    static const std::string data_path = folder + "/Tessavane.dat";
    static const std::string patch_path = folder + "/Patch.dat";
    static bool registered = (fuzz_temp_register(data_path), fuzz_temp_register(patch_path), true);
    (void)registered;
    bool have_installed = !(flags & FLAG_NO_INSTALLED);
    bool have_patch = !(flags & FLAG_NO_PATCH);
    place_archive(data_path, installed_text, have_installed);
    place_archive(patch_path, patch_text, have_patch);

    RecordingView view;
    view.folder = folder;
    view.module = folder + "/updater.exe";
    ActionMode = -1;
    refresh_versions(&view);

    expect_text(view, CONTROL_INSTALLED_VERSION,
                have_installed ? shown(installed) : std::string(TEXT_NOT_FOUND));
    expect_text(view, CONTROL_PATCH_VERSION,
                have_patch ? shown(patch) : std::string(TEXT_NOT_FOUND));
    std::string status, label = TEXT_START_UPDATE;
    int enabled, mode = ACTION_MODE_UPDATE;
    if (!have_patch) {
        status = TEXT_PATCH_NOT_FOUND;
        enabled = 0;
    } else if (!have_installed) {
        status = TEXT_SPECIFY_INSTALL_FOLDER;
        enabled = 0;
    } else if (reference_version(installed.version) >= reference_version(patch.version)) {
        status = TEXT_NO_UPDATE_NEEDED;
        label = TEXT_START_GAME;
        enabled = 1;
        mode = ACTION_MODE_LAUNCH;
    } else if (installed.attribute != patch.attribute) {
        status = TEXT_KIND_DIFFERS;
        enabled = 0;
    } else {
        status = TEXT_UPDATE_POSSIBLE;
        enabled = 1;
    }
    expect_text(view, CONTROL_STATUS, status);
    expect_text(view, CONTROL_ACTION, label);
    if (view.enable_calls == 0 || view.enabled != (enabled != 0) || ActionMode != mode) {
        fuzz_fail("button enabled %d (set %d times) mode %d, expected %d and %d", int(view.enabled),
                  view.enable_calls, ActionMode, enabled, mode);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    uint8_t flags = data[0];
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t split = rest.find(std::string("\0\0", 2));
    std::string installed_text = rest.substr(0, split);
    std::string patch_text = split == std::string::npos ? std::string() : rest.substr(split + 2);

    Fields installed = read_from_memory(installed_text);
    Fields patch = read_from_memory(patch_text);

    // Without "info.txt" nothing is set and the reader says so.
    FileSystem* empty = memory_fs_open(MemoryTree{});
    VersionInfo untouched, info;
    std::memset(&untouched, 0x5A, sizeof untouched);
    info = untouched;
    if (read_version_info(empty, &info) || std::memcmp(&info, &untouched, sizeof info) != 0) {
        fuzz_fail("a missing info.txt was read or changed the record");
    }
    fs_close(empty);

    for (const std::string& text :
         {installed.version, patch.version, installed_text.substr(0, 4096)}) {
        check_version(text);
    }
    if (flags & FLAG_DECIDE) {
        check_decision(installed_text, installed, patch_text, patch, flags);
    }
    return 0;
}
