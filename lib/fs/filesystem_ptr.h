// An owning handle for C++ callers that hold a file system: it closes the
// file system when it goes out of scope.
#pragma once

#include <memory>

#include "fs/filesystem.h"

struct FileSystemCloser {
    void operator()(FileSystem* fs) const {
        if (fs) {
            fs_close(fs);
        }
    }
};
using FileSystemPtr = std::unique_ptr<FileSystem, FileSystemCloser>;
