// Small helpers shared by the unit tests of every area.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A fresh folder below the system's temporary folder, removed with all it
// holds when the object goes away. Its path uses the platform separator and
// has no trailing separator.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with a relative name ("/" inside name is kept as given).
    std::string file(const std::string& name) const;

  private:
    std::string path_;
};

// Whole-file helpers over the C runtime (ASCII paths only).
std::string read_whole_file(const std::string& path);
// What is left to read of an open file, from its position to its end.
std::string read_rest(FILE* file);
void write_whole_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// Deterministic bytes for test data: text-like when compressible is true,
// noise otherwise.
std::string make_bytes(uint32_t size, uint32_t seed, bool compressible = true);
