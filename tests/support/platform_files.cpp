#include "support/platform_files.h"

#include <stdexcept>

#include "platform/platform.h"

std::string join(const std::string& folder, const std::string& name) {
    std::string path = folder + platform_separator() + name;
    for (char& c : path) {
        if (c == '/') {
            c = platform_separator();
        }
    }
    return path;
}

void write_file(const std::string& path, const std::string& bytes) {
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS);
    if (file == PLATFORM_INVALID_FILE) {
        throw std::runtime_error("cannot write " + path);
    }
    uint32_t written =
        bytes.empty() ? 0 : platform_file_write(file, bytes.data(), uint32_t(bytes.size()));
    platform_file_close(file);
    if (written != bytes.size()) {
        throw std::runtime_error("short write to " + path);
    }
}

std::string read_file(const std::string& path) {
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    if (file == PLATFORM_INVALID_FILE) {
        return "<missing>";
    }
    uint32_t size = 0;
    platform_file_size(file, &size, nullptr);
    std::string bytes(size, '\0');
    uint32_t got = 0;
    while (got < size) {
        uint32_t n = platform_file_read(file, bytes.data() + got, size - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    platform_file_close(file);
    bytes.resize(got);
    return bytes;
}

bool path_exists(const std::string& path) {
    return platform_attributes(path.c_str()) != PLATFORM_ATTRIBUTES_INVALID;
}

bool is_folder(const std::string& path) {
    uint32_t attributes = platform_attributes(path.c_str());
    return attributes != PLATFORM_ATTRIBUTES_INVALID &&
           (attributes & PLATFORM_ATTRIBUTE_DIRECTORY) != 0;
}

void make_folder(const std::string& path) {
    if (!is_folder(path) && !platform_make_dir(path.c_str())) {
        throw std::runtime_error("cannot make the folder " + path);
    }
}

void write_tree_file(const std::string& root, const std::string& relative,
                     const std::string& bytes) {
    size_t slash = 0;
    while ((slash = relative.find('/', slash)) != std::string::npos) {
        make_folder(join(root, relative.substr(0, slash)));
        ++slash;
    }
    write_file(join(root, relative), bytes);
}
