#include "update/patch/diff_warnings.h"

#include <unordered_map>

#include "platform/wildcard_index.h"
#include "support/text.h"

namespace {

const std::string EXTRACT_PREFIX = "/_extract/";

bool under_extract(const std::string& path) {
    return path.compare(0, EXTRACT_PREFIX.size(), EXTRACT_PREFIX) == 0;
}

// The name as Windows compares it: lone ASCII letters in upper case, the
// bytes of a double-byte character (whose trail may look like a letter)
// kept as they are.
std::string folded_name(const char* name) {
    std::string out;
    wildcard_fold(name, out);
    return out;
}

} // namespace

size_t warn_loose_collisions(const DiffReporter& reporter, const Tree& target,
                             const std::vector<PatchItem>& copies,
                             const std::vector<const TreeEntry*>& stays) {
    std::vector<const std::string*> loose;
    for (const TreeEntry& entry : target.entries) {
        if (!entry.directory && under_extract(entry.path)) {
            loose.push_back(&entry.path);
        }
    }
    for (const PatchItem& copy : copies) {
        loose.push_back(&copy.path);
    }
    for (const TreeEntry* file : stays) {
        if (under_extract(file->path)) {
            loose.push_back(&file->path);
        }
    }
    // Names in the order they first turn up, each with its paths.
    std::vector<std::vector<const std::string*>> groups;
    std::unordered_map<std::string, size_t> group_of;
    for (const std::string* path : loose) {
        // The updater names a loose file as path_file_name does: after the
        // last "/" or "\" byte.
        auto [found, added] =
            group_of.emplace(folded_name(path_file_name(path->c_str())), groups.size());
        if (added) {
            groups.emplace_back();
        }
        groups[found->second].push_back(path);
    }
    size_t names = 0;
    for (const auto& paths : groups) {
        if (paths.size() < 2) {
            continue;
        }
        ++names;
        std::string listed;
        for (const std::string* path : paths) {
            listed += (listed.empty() ? "" : ", ") + reporter.show(*path);
        }
        reporter.warning(listed + ": all become the loose file " +
                         reporter.show(path_file_name(paths.front()->c_str())) +
                         " of the install folder (the updater does not recreate the "
                         "folders below /_extract, and Windows ignores case); only the "
                         "one copied last stays");
    }
    return names;
}

size_t warn_file_folder_clashes(const DiffReporter& reporter, const Tree& old_tree,
                                const Tree& target, const std::vector<PatchItem>& copies) {
    auto new_file = [&](const std::string& path) {
        if (target.file(path)) {
            return true;
        }
        for (const PatchItem& copy : copies) {
            if (copy.path == path) {
                return true;
            }
        }
        return false;
    };
    size_t clashes = 0;
    for (const TreeEntry& entry : old_tree.entries) {
        const bool clash = entry.directory ? new_file(entry.path) : target.has_folder(entry.path);
        if (!clash) {
            continue;
        }
        ++clashes;
        reporter.warning(reporter.show(entry.path) + " is a " +
                         (entry.directory ? "folder" : "file") + " in " + old_tree.display +
                         " and a " + (entry.directory ? "file" : "folder") + " in " +
                         target.display +
                         ": a patch cannot delete the one OLD holds, so the updated "
                         "data hold both, and extracting them fails");
    }
    return clashes;
}
