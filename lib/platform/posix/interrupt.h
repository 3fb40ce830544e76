// Interruption clean-up, the parts only the POSIX layer itself uses.
#pragma once

// Registers the file fd that name (already in the file system's encoding)
// names in the folder folder_fd, as platform_interrupt_cleanup_add does by
// path; the folder must stay open while the slot is in use.
int interrupt_cleanup_add_at(int folder_fd, int fd, const char* name);
// Creates name (in the file system's encoding) in the folder folder_fd
// (AT_FDCWD: the current folder) as a new file, exclusively and never
// through a link; with cleanup_slot it is registered for removal on an
// interruption, with no signal let in between. The descriptor, or -1 with
// errno set.
int interrupt_safe_create_at(int folder_fd, const char* name, int* cleanup_slot);
