#include "update/patch/diff_patch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "fs/filesystem.h"
#include "stream/stream.h"

namespace {

struct PatchView {
    FileSystemHeader header;
    FileSystem* source;
    const std::vector<PatchItem>* items;
    std::unordered_map<std::string, const TreeEntry*> files;
};

PatchView* view_of(FileSystem* fs) {
    return reinterpret_cast<PatchView*>(fs);
}

std::string absolute(const char* path) {
    std::string result(path[0] == '/' ? "" : "/");
    result += path;
    return result;
}

int view_close(FileSystem* fs) {
    delete view_of(fs);
    return 1;
}

Stream* view_open(FileSystem* fs, const char* path, uint32_t, uint32_t, uint32_t flags,
                  Allocator*) {
    PatchView* view = view_of(fs);
    auto found = view->files.find(absolute(path));
    if (found == view->files.end() || (flags & STREAM_OPEN_WRITE)) {
        return nullptr;
    }
    return open_file_content(FileRef{view->source, found->second});
}

int view_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                   EnumCallback callback) {
    PatchView* view = view_of(fs);
    std::string base = absolute(path);
    if (base == "/") {
        base.clear();
    }
    bool found = base.empty();
    for (const PatchItem& item : *view->items) {
        found = found || (item.directory() && item.path == base);
    }
    if (!found) {
        return 0;
    }
    DirEntry entry;
    for (const PatchItem& item : *view->items) {
        const std::string& name = item.path;
        if (name.size() <= base.size() || name.compare(0, base.size(), base) != 0 ||
            name[base.size()] != '/' ||
            (!recursive && name.find('/', base.size() + 1) != std::string::npos) ||
            name.size() - base.size() >= sizeof entry.name) {
            continue;
        }
        std::memcpy(entry.name, name.c_str() + base.size(), name.size() - base.size() + 1);
        entry.size = item.directory() ? 0 : item.from->size;
        entry.attributes = item.directory() ? DIRENTRY_DIRECTORY : 0;
        callback(context, fs, &entry);
    }
    return 1;
}

const FileSystemOps patch_view_ops = fs_read_only_ops(view_close, view_open, view_enumerate);

// The line's key as the updater reads it: the text before the first "=".
bool has_key(const std::string& line, const char* key) {
    size_t length = std::strlen(key);
    return line.size() > length && line.compare(0, length, key) == 0 && line[length] == '=';
}

} // namespace

FileSystem* patch_view_open(FileSystem* source, const std::vector<PatchItem>& items) {
    auto* view = new (std::nothrow) PatchView{};
    if (!view) {
        return nullptr;
    }
    view->header.ops = &patch_view_ops;
    view->source = source;
    view->items = &items;
    for (const PatchItem& item : items) {
        if (!item.directory()) {
            view->files.emplace(item.path, item.from);
        }
    }
    return reinterpret_cast<FileSystem*>(view);
}

std::string rewrite_info(const std::string& original, const std::string* version,
                         const std::string* attribute) {
    // Lines end with CR LF, as the updater reads them; a lone LF is part of
    // its line there, so it is here.
    std::string out;
    bool version_written = false;
    bool attribute_written = false;
    size_t start = 0;
    while (start < original.size()) {
        size_t end = original.find("\r\n", start);
        size_t next = end == std::string::npos ? original.size() : end + 2;
        std::string line = original.substr(start, next - start);
        const std::string line_end = end == std::string::npos ? "" : "\r\n";
        if (version && has_key(line, "version")) {
            line = "version=" + *version + line_end;
            version_written = true;
        } else if (attribute && has_key(line, "attribute")) {
            line = "attribute=" + *attribute + line_end;
            attribute_written = true;
        }
        out += line;
        start = next;
    }
    if ((version && !version_written) || (attribute && !attribute_written)) {
        if (!out.empty() && out.compare(out.size() - std::min<size_t>(2, out.size()),
                                        std::string::npos, "\r\n") != 0) {
            out += "\r\n";
        }
        if (version && !version_written) {
            out += "version=" + *version + "\r\n";
        }
        if (attribute && !attribute_written) {
            out += "attribute=" + *attribute + "\r\n";
        }
    }
    return out;
}
