// Interruption clean-up, the parts only the POSIX layer itself uses.
#pragma once

// Registers the file fd that name (already in the file system's encoding)
// names in the folder folder_fd, as platform_interrupt_cleanup_add does by
// path; the folder must stay open while the slot is in use.
int interrupt_cleanup_add_at(int folder_fd, int fd, const char* name);
