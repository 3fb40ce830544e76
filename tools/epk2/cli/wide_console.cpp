#include "cli/cli.h"

#include "support/text.h"

size_t cp932_whole_characters(const char* data, size_t count) {
    size_t at = 0;
    while (at < count) {
        unsigned char c = static_cast<unsigned char>(data[at]);
        if (text_is_lead_byte(c) && at + 1 == count) {
            return at; // its trail byte is still to come
        }
        at += text_is_lead_byte(c) && text_is_trail_byte(static_cast<unsigned char>(data[at + 1]))
                  ? 2
                  : 1;
    }
    return count;
}

#ifdef _WIN32

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <vector>

namespace {

struct Reroute {
    FILE* file = nullptr;
    HANDLE console = INVALID_HANDLE_VALUE;
    HANDLE pipe_read = INVALID_HANDLE_VALUE;
    HANDLE thread = nullptr;
};

Reroute reroutes[2];

DWORD WINAPI pump(void* argument) {
    Reroute& reroute = *static_cast<Reroute*>(argument);
    std::vector<char> bytes;
    std::vector<wchar_t> wide;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(reroute.pipe_read, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
        size_t whole = cp932_whole_characters(bytes.data(), bytes.size());
        if (whole == 0) {
            continue;
        }
        int length = MultiByteToWideChar(932, 0, bytes.data(), int(whole), nullptr, 0);
        wide.resize(length > 0 ? size_t(length) : 0);
        if (length > 0) {
            MultiByteToWideChar(932, 0, bytes.data(), int(whole), wide.data(), length);
            DWORD written = 0;
            WriteConsoleW(reroute.console, wide.data(), DWORD(length), &written, nullptr);
        }
        bytes.erase(bytes.begin(), bytes.begin() + ptrdiff_t(whole));
    }
    CloseHandle(reroute.pipe_read);
    return 0;
}

} // namespace

bool wide_console_attach(FILE* file) {
    Reroute& reroute = reroutes[file == stderr ? 1 : 0];
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return false; // a pipe or a file: code page 932 bytes as they are
    }
    HANDLE pipe_read, pipe_write;
    if (!CreatePipe(&pipe_read, &pipe_write, nullptr, 0)) {
        return false;
    }
    // The console handle stays ours; the stream's descriptor becomes the pipe.
    HANDLE console;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &console, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        CloseHandle(pipe_read);
        CloseHandle(pipe_write);
        return false;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(pipe_write), _O_BINARY);
    if (descriptor < 0 || _dup2(descriptor, _fileno(file)) != 0) {
        CloseHandle(pipe_read);
        CloseHandle(console);
        if (descriptor >= 0) {
            _close(descriptor);
        }
        return false;
    }
    _close(descriptor);
    reroute = {file, console, pipe_read, nullptr};
    reroute.thread = CreateThread(nullptr, 0, pump, &reroute, 0, nullptr);
    return reroute.thread != nullptr;
}

void wide_console_finish() {
    for (Reroute& reroute : reroutes) {
        if (!reroute.thread) {
            continue;
        }
        // Closing the stream's descriptor ends the pipe; the thread writes
        // what is left and stops.
        std::fflush(reroute.file);
        _close(_fileno(reroute.file));
        WaitForSingleObject(reroute.thread, INFINITE);
        CloseHandle(reroute.thread);
        CloseHandle(reroute.console);
        reroute.thread = nullptr;
    }
}

#endif
