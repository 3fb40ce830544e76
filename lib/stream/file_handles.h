// Streams over files that are already open. A file is checked once when it
// is opened and then read or written only through that handle, so a name
// that is swapped or re-pointed meanwhile never changes what is read.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Allocator;
struct Stream;

// A disk stream over an open handle that stays the caller's: closing the
// stream leaves the handle open. Its window starts at 0 and spans the file's
// present size. flags: STREAM_OPEN_READ and/or STREAM_OPEN_WRITE.
Stream* stream_open_handle(PlatformFile file, uint32_t flags, Allocator* allocator);

// A read-only file shared by many streams, which may read it on several
// threads at once. It is closed with its last reference.
struct SharedFile;

// Opens an existing regular file for reading; on Windows others may go on
// reading it but not write, rename or delete it while it is open.
SharedFile* shared_file_open(const char* path, Allocator* allocator);
// Shares an open handle; owned: the last release closes it.
SharedFile* shared_file_adopt(PlatformFile file, bool owned, Allocator* allocator);
void shared_file_retain(SharedFile* file);
void shared_file_release(SharedFile* file);
PlatformFile shared_file_handle(const SharedFile* file);
// The file's size when it was opened (0 for 4 GiB and more).
uint32_t shared_file_size(const SharedFile* file);
bool shared_file_too_large(const SharedFile* file);
// True when the file's size is no longer what it was when opened: another
// process wrote to it (POSIX has no share modes to stop that).
bool shared_file_changed(const SharedFile* file);

// A read-only window of length bytes at start, holding a reference to file.
Stream* stream_open_shared(SharedFile* file, uint32_t start, uint32_t length, Allocator* allocator);

// Writes count bytes of a shared file, from position on, into output at its
// position, as stream_write would: where output is a disk stream the
// platform copies them between the files (platform_file_copy), else they go
// through a buffer. Returns the count written.
uint32_t stream_copy_from_shared(Stream* output, SharedFile* from, uint32_t position,
                                 uint32_t count);
// True when stream_copy_from_shared from position into output at its
// position would let the kernel copy (platform_file_copy_by_kernel); false
// when the bytes would pass through memory anyway.
bool stream_copy_from_shared_by_kernel(const Stream* output, uint32_t position);
