#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "support/threads.h"

namespace {

// Runs a closure on a library thread.
void run_closure(void* argument) {
    (*static_cast<std::function<void()>*>(argument))();
}

void start(Thread* thread, std::function<void()>* body) {
    thread_start(thread, nullptr, run_closure, body, 0);
    ASSERT_NE(thread->handle, nullptr);
}

// A count that other threads raise and this one waits on. The wait returns
// as soon as the count is reached; the limit only keeps a faulty primitive
// from hanging the suite, and turns it into a failure instead.
class Tally {
  public:
    void raise() {
        std::lock_guard<std::mutex> hold(lock_);
        ++count_;
        changed_.notify_all();
    }
    bool wait_for(int expected, uint32_t limit_ms = 5000) {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::milliseconds(limit_ms),
                                 [&] { return count_ >= expected; });
    }
    int count() {
        std::lock_guard<std::mutex> hold(lock_);
        return count_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int count_ = 0;
};

// How long a thread is given to do what it must not (pass a held lock, wake
// without a signal) before the test checks that it did not. Nothing can show
// that a thread is blocked, so this is the one place where time stands in.
constexpr uint32_t CHANCE_MS = 50;

// lock_try_enter from a second thread: the result and how long it took.
struct TryResult {
    int taken = -1;
    int64_t elapsed_us = -1;
};

TryResult try_from_other_thread(Lock* lock) {
    TryResult result;
    Tally done;
    std::function<void()> body = [&] {
        int64_t before = time_microseconds();
        result.taken = lock_try_enter(lock);
        result.elapsed_us = time_microseconds() - before;
        if (result.taken)
            lock_leave(lock);
        done.raise();
    };
    Thread thread;
    start(&thread, &body);
    if (done.wait_for(1))
        thread_join(&thread);
    return result;
}

} // namespace

TEST(Lock, TryEnterIsReentrantAndNeverBlocks) {
    Lock lock;
    EXPECT_EQ(lock_init(&lock, sizeof lock.storage), &lock);
    EXPECT_EQ(lock.object, static_cast<void*>(lock.storage));

    lock_enter(&lock);
    TryResult held = try_from_other_thread(&lock);
    EXPECT_EQ(held.taken, 0);
    EXPECT_GE(held.elapsed_us, 0);
    EXPECT_LT(held.elapsed_us, 200000) << "try_enter waited for the holder";

    // The holder may take it again, and then owes two leaves.
    EXPECT_NE(lock_try_enter(&lock), 0);
    lock_leave(&lock);
    EXPECT_EQ(try_from_other_thread(&lock).taken, 0);
    lock_leave(&lock);
    EXPECT_EQ(try_from_other_thread(&lock).taken, 1);

    lock_delete(&lock);
}

TEST(Lock, EnterWaitsForTheHolder) {
    Lock lock;
    lock_init(&lock, sizeof lock.storage);
    lock_enter(&lock);
    lock_enter(&lock);

    Tally arrived, entered;
    std::function<void()> body = [&] {
        arrived.raise();
        lock_enter(&lock);
        entered.raise();
        lock_leave(&lock);
    };
    Thread thread;
    start(&thread, &body);

    EXPECT_TRUE(arrived.wait_for(1));
    EXPECT_FALSE(entered.wait_for(1, CHANCE_MS));
    lock_leave(&lock);
    EXPECT_FALSE(entered.wait_for(1, CHANCE_MS)) << "released after one leave of two enters";
    lock_leave(&lock);
    EXPECT_TRUE(entered.wait_for(1));
    if (entered.count())
        thread_join(&thread);
    lock_delete(&lock);
}

TEST(Event, OneSignalServesOneWait) {
    Event event;
    EXPECT_EQ(event_create(&event), &event);
    ASSERT_NE(event.handle, nullptr);

    // Two signals with nobody waiting leave it signalled once, not twice.
    EXPECT_NE(event_signal(&event), 0);
    EXPECT_NE(event_signal(&event), 0);
    int64_t before = time_microseconds();
    EXPECT_EQ(event_wait(&event), 0u);
    EXPECT_LT(time_microseconds() - before, 200000);

    Tally waiting, woke;
    std::function<void()> body = [&] {
        waiting.raise();
        event_wait(&event);
        woke.raise();
    };
    Thread thread;
    start(&thread, &body);
    EXPECT_TRUE(waiting.wait_for(1));
    EXPECT_FALSE(woke.wait_for(1, CHANCE_MS)) << "the second wait did not block";

    event_signal(&event);
    EXPECT_TRUE(woke.wait_for(1));
    // Release a waiter that a faulty event left blocked, so the join returns.
    for (int i = 0; i < 10 && !woke.wait_for(1, 10); ++i)
        event_signal(&event);
    thread_join(&thread);
    EXPECT_NE(event_destroy(&event), 0);
}

TEST(Event, EachSignalReleasesOneWaiter) {
    Event event;
    event_create(&event);
    Tally waiting, woken;
    std::function<void()> body = [&] {
        waiting.raise();
        event_wait(&event);
        woken.raise();
    };
    Thread threads[3];
    for (Thread& thread : threads)
        start(&thread, &body);
    EXPECT_TRUE(waiting.wait_for(3));

    event_signal(&event);
    EXPECT_TRUE(woken.wait_for(1));
    EXPECT_FALSE(woken.wait_for(2, CHANCE_MS)) << "one signal woke two waiters";

    // Two signals in a row with two waiters release both, even before the
    // first of them has run again.
    event_signal(&event);
    event_signal(&event);
    EXPECT_TRUE(woken.wait_for(3));

    for (int i = 0; i < 30 && !woken.wait_for(3, 10); ++i)
        event_signal(&event);
    for (Thread& thread : threads)
        thread_join(&thread);

    // Nothing is left over for a later wait: three signals served three
    // waiters, so a fourth waiter blocks until a signal of its own.
    Thread late;
    start(&late, &body);
    EXPECT_TRUE(waiting.wait_for(4));
    EXPECT_FALSE(woken.wait_for(4, CHANCE_MS)) << "a signal was left over";
    event_signal(&event);
    EXPECT_TRUE(woken.wait_for(4));
    for (int i = 0; i < 10 && !woken.wait_for(4, 10); ++i)
        event_signal(&event);
    thread_join(&late);
    event_destroy(&event);
}

TEST(Thread, RunsSetsIdAndJoins) {
    Event running, proceed;
    event_create(&running);
    event_create(&proceed);
    std::atomic<uint32_t> own_id{0};
    std::atomic<int> runs{0};
    std::function<void()> body = [&] {
        own_id = platform_thread_current_id();
        runs++;
        event_signal(&running);
        event_wait(&proceed);
    };

    Thread thread;
    thread.id = 12345;
    thread_start(&thread, nullptr, run_closure, &body, 64 * 1024);
    ASSERT_NE(thread.handle, nullptr);
    EXPECT_EQ(thread.start, &run_closure);
    EXPECT_EQ(thread.argument, &body);

    event_wait(&running);
    EXPECT_NE(thread_id(&thread), 0u);
    EXPECT_EQ(thread_id(&thread), own_id.load());
    EXPECT_NE(thread_id(&thread), platform_thread_current_id());

    event_signal(&proceed);
    EXPECT_EQ(thread_wait(&thread), 0u);
    EXPECT_EQ(thread_wait(&thread), 0u) << "a second wait on an ended thread";
    EXPECT_NE(thread_join(&thread), 0);
    EXPECT_EQ(thread.handle, nullptr);
    EXPECT_EQ(thread_join(&thread), 0) << "joining twice";
    EXPECT_EQ(runs.load(), 1);

    event_destroy(&running);
    event_destroy(&proceed);
}

TEST(Thread, PriorityOutOfRangeMeansNormal) {
    Event proceed;
    event_create(&proceed);
    std::function<void()> body = [&] { event_wait(&proceed); };
    Thread thread;
    start(&thread, &body);

    EXPECT_NE(thread_set_priority(&thread, -1), 0);
    EXPECT_EQ(thread_get_priority(&thread), -1);
    EXPECT_NE(thread_set_priority(&thread, 7), 0);
    EXPECT_EQ(thread_get_priority(&thread), 0);
    EXPECT_NE(thread_set_priority(&thread, -2), 0);
    EXPECT_EQ(thread_get_priority(&thread), -2);
    EXPECT_NE(thread_set_priority(&thread, -3), 0);
    EXPECT_EQ(thread_get_priority(&thread), 0);

    event_signal(&proceed);
    thread_join(&thread);
    EXPECT_EQ(thread_set_priority(&thread, 0), 0) << "a joined thread has no handle";
    event_destroy(&proceed);
}

TEST(Thread, ExitEndsTheThreadEarly) {
    std::atomic<bool> after_exit{false};
    std::function<void()> body = [&] {
        thread_exit(5);
        after_exit = true;
    };
    Thread thread;
    start(&thread, &body);
    EXPECT_EQ(thread_wait(&thread), 0u);
    EXPECT_NE(thread_join(&thread), 0);
    EXPECT_FALSE(after_exit.load());
}

TEST(Clock, CountsMicroseconds) {
    int64_t before = time_microseconds();
    sleep_ms(10);
    int64_t elapsed = time_microseconds() - before;
    EXPECT_GE(elapsed, 9000);
    EXPECT_LT(elapsed, 500000);

    // Large counters: 10^13 ticks of a 10 MHz counter (about 11.6 days) and
    // of a 3 GHz counter; a plain counter x 10^6 overflows on both.
    EXPECT_EQ(time_counter_to_microseconds(10000000000000LL, 10000000), 1000000000000LL);
    EXPECT_EQ(time_counter_to_microseconds(3000000000000000001LL, 3000000000LL),
              1000000000000000LL);
    EXPECT_EQ(time_counter_to_microseconds(15, 10), 1500000);
    EXPECT_EQ(time_counter_to_microseconds(1, 3), 333333);
    EXPECT_EQ(time_counter_to_microseconds(100, 0), 0);
}
