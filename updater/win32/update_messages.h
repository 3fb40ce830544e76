// The dialog's messages while an update runs on its thread (inside the
// action button's handler, which the modal loop is waiting on).
#pragma once

// Dispatches what waits for the thread except keyboard and mouse input:
// paints, timers, posted messages and, through PeekMessage itself, messages
// other programs send (Windows pings a window with WM_NULL and shows it as
// "not responding" when no answer comes). Input stays queued for
// discard_queued_input. Whatever is dispatched runs inside the update: the
// dialog procedure must not act on commands meanwhile. True when WM_QUIT was
// met (it is posted again for the modal loop, so it stays waiting).
bool dispatch_waiting_messages();

// Drops the keyboard and mouse input that was queued during the update.
void discard_queued_input();

// Runs work(context) on another thread and dispatches, as above, what
// waits for this one until it has ended: hashing a large patch must not
// leave the dialog unanswered. The dialog procedure must not act on commands
// meanwhile. Runs work here when no thread can be made.
void run_while_answering(void (*work)(void*), void* context);
