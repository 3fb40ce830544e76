#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fsys = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fsys::path candidate =
            fsys::temp_directory_path() /
            ("epk2-test-" + std::to_string(stamp % 1000000007) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fsys::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code error;
    fsys::remove_all(path_, error);
}

std::string TempDir::file(const std::string& name) const {
#ifdef _WIN32
    return path_ + "\\" + name;
#else
    return path_ + "/" + name;
#endif
}

std::string read_rest(FILE* file) {
    std::string bytes;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.append(chunk, n);
    }
    return bytes;
}

std::string read_whole_file(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        bytes = read_rest(f);
        std::fclose(f);
    }
    return bytes;
}

void write_whole_file(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        throw std::runtime_error("cannot write " + path);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return fsys::exists(path, error);
}

std::string make_bytes(uint32_t size, uint32_t seed, bool compressible) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    static const char words[] = "the quick brown fox jumps over the lazy dog 0123456789\r\n";
    for (uint32_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = compressible ? words[x % (sizeof words - 1)] : static_cast<char>(x >> 24);
    }
    return out;
}
