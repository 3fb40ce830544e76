// Interruption clean-up, the parts only the POSIX layer itself uses.
#pragma once

// Stops removing the file registered with descriptor fd, whatever its slot.
void interrupt_cleanup_forget(int fd);
