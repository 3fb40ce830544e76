#include <cstdio>
#include <cstring>

#include "fs/disk_fs.h"
#include "platform/platform.h"
#include "support/messages.h"
#include "support/text.h"

// The operating system's search functions take patterns of at most this
// many bytes, so the walk's pattern and name prefix are held to it too.
static const uint32_t WALK_PATH_SIZE = 260;

// One walk: the pattern and the prefix grow in place on the way down and
// are cut back on the way up.
struct DiskWalk {
    char pattern[WALK_PATH_SIZE];
    char prefix[WALK_PATH_SIZE];
    DirEntry entry;
    int recursive;
    void* context;
    FileSystem* fs;
    EnumCallback callback;
};

// A code page 932 trail byte may be 0x5C, so a backslash only counts when
// it is a character of its own.
static bool walk_ends_with_separator(const char* path, char separator) {
    bool last = false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
    while (*p) {
        if (text_char_length(reinterpret_cast<const char*>(p)) == 2) {
            last = false;
            p += 2;
        } else {
            last = *p == static_cast<unsigned char>(separator);
            ++p;
        }
    }
    return last;
}

static bool walk_is_dot_entry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

static uint32_t walk_attributes(uint32_t platform_bits) {
    uint32_t attributes = 0;
    if (platform_bits & PLATFORM_ATTRIBUTE_DIRECTORY) {
        attributes |= DIRENTRY_DIRECTORY;
    }
    if (platform_bits & PLATFORM_ATTRIBUTE_READONLY) {
        attributes |= DIRENTRY_READONLY;
    }
    if (platform_bits & PLATFORM_ATTRIBUTE_SPECIAL) {
        attributes |= DIRENTRY_SPECIAL;
    }
    return attributes;
}

static int walk_level(DiskWalk* walk);

// Lists the sub-folder name of the folder in the pattern (which ends in a
// separator, without "*"). A folder that cannot be listed has already been
// reported as an entry; its contents are left out and the walk goes on.
static void walk_descend(DiskWalk* walk, const char* name) {
    size_t folder_length = std::strlen(walk->pattern);
    size_t prefix_length = std::strlen(walk->prefix);
    size_t name_length = std::strlen(name);
    if (folder_length + name_length + 2 >= WALK_PATH_SIZE ||
        prefix_length + name_length + 1 >= WALK_PATH_SIZE) {
        report_error("folder %s%s is too deep to list; its contents are left out", walk->pattern,
                     name);
        return;
    }
    char* pattern_end = walk->pattern + folder_length;
    std::memcpy(pattern_end, name, name_length);
    pattern_end[name_length] = platform_separator();
    pattern_end[name_length + 1] = '*';
    pattern_end[name_length + 2] = '\0';
    char* prefix_end = walk->prefix + prefix_length;
    std::memcpy(prefix_end, name, name_length);
    prefix_end[name_length] = '/';
    prefix_end[name_length + 1] = '\0';

    int listed = walk_level(walk);

    *pattern_end = '\0';
    *prefix_end = '\0';
    if (!listed) {
        report_error("cannot list folder %s%s; its contents are left out", walk->pattern, name);
    }
}

static int walk_level(DiskWalk* walk) {
    PlatformFindData data;
    PlatformFind find = platform_find_first(walk->pattern, &data);
    if (find == PLATFORM_INVALID_FIND) {
        return 0;
    }
    // Drop the "*": the pattern is now the folder with its separator.
    walk->pattern[std::strlen(walk->pattern) - 1] = '\0';
    do {
        if (walk_is_dot_entry(data.name)) {
            continue;
        }
        // A name with no code page 932 form cannot be handed on unchanged,
        // and a changed name would point at some other file.
        if (data.name_unconvertible) {
            report_error(
                "folder %s holds an entry whose name cannot be represented; it is left out",
                walk->pattern);
            continue;
        }
        DirEntry* entry = &walk->entry;
        int written =
            std::snprintf(entry->name, sizeof entry->name, "%s%s", walk->prefix, data.name);
        if (written < 0 || static_cast<size_t>(written) >= sizeof entry->name) {
            report_error("folder %s holds an entry whose name is too long; it is left out",
                         walk->pattern);
            continue;
        }
        entry->size = data.size_low;
        entry->attributes = walk_attributes(data.attributes);
        walk->callback(walk->context, walk->fs, entry);
        if ((data.attributes & PLATFORM_ATTRIBUTE_DIRECTORY) && walk->recursive) {
            walk_descend(walk, data.name);
        }
    } while (platform_find_next(find, &data));
    platform_find_close(find);
    return 1;
}

int disk_walk(const char* directory, int recursive, void* context, FileSystem* fs,
              EnumCallback callback) {
    DiskWalk walk;
    uint32_t length = disk_full_path(walk.pattern, WALK_PATH_SIZE, directory);
    if (length == 0 || length >= WALK_PATH_SIZE) {
        return 0;
    }
    // The pattern is the folder, one separator and "*".
    char separator = platform_separator();
    bool add_separator = !walk_ends_with_separator(walk.pattern, separator);
    if (length + (add_separator ? 1 : 0) + 1 >= WALK_PATH_SIZE) {
        return 0;
    }
    if (add_separator) {
        walk.pattern[length++] = separator;
    }
    walk.pattern[length++] = '*';
    walk.pattern[length] = '\0';
    walk.prefix[0] = '/';
    walk.prefix[1] = '\0';
    walk.recursive = recursive;
    walk.context = context;
    walk.fs = fs;
    walk.callback = callback;
    return walk_level(&walk);
}
