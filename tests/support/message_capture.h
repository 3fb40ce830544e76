// Collects the library's messages for tests that check what it reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Collects every library message while alive, each text as delivered
// ("Error: " and the line feed included): the tool's MessageCapture strips
// them, and these tests check the library's own words. The builder's worker
// threads may report at the same time, so the texts are kept under a lock.
// Captures nest: the newest one alive collects, and the one it hid collects
// again once it is gone.
class RawMessageCapture {
  public:
    RawMessageCapture();
    ~RawMessageCapture();
    RawMessageCapture(const RawMessageCapture&) = delete;
    RawMessageCapture& operator=(const RawMessageCapture&) = delete;

    std::vector<std::string> messages() const;
    bool has(const std::string& text) const;
    void clear();

  private:
    static void hook(intptr_t value, const char* text);
    std::vector<std::string> messages_;
    RawMessageCapture* previous_;
};
