#include "builder_pipeline.h"

#include <new>

#include "archive/epk2_format.h"
#include "support/threads.h"

struct PreparePipeline::State {
    const std::vector<BuilderFile*>& files;
    bool recompress;

    Lock lock;
    Event work;  // a worker may take a job: the writer moved on, or stop
    Event ready; // a job finished
    std::vector<Thread> threads;

    struct Slot {
        bool ready = false;
        PreparedFile result;
    };
    std::vector<Slot> slots;
    unsigned started = 0; // workers running; none: take() prepares inline
    uint32_t next_job = 0;
    uint32_t writer = 0;
    uint64_t in_flight = 0;
    bool stop = false;

    // Files the writer prepares itself (copies in place): workers skip them
    // and the writer takes them without a hand-over.
    std::vector<bool> inline_files;

    State(const std::vector<BuilderFile*>& f, bool r)
        : files(f), recompress(r), slots(f.size()), inline_files(f.size()) {
        for (size_t i = 0; i < f.size(); ++i) {
            inline_files[i] = builder_copies_in_place(*f[i], r);
        }
    }

    uint64_t weight(uint32_t index) const {
        return files[index]->size <= PIPELINE_MEMORY_LIMIT ? files[index]->size : 0;
    }

    // True when job index may start now (called under the lock).
    bool may_take(uint32_t index) const {
        if (index >= writer + PIPELINE_FILES_AHEAD) {
            return false;
        }
        return in_flight == 0 || in_flight + weight(index) <= PIPELINE_BYTES_IN_FLIGHT;
    }

    void prepare(uint32_t index, PreparedFile& result) const {
        const BuilderFile& file = *files[index];
        if (file.size > PIPELINE_MEMORY_LIMIT && !inline_files[index]) {
            return; // streamed by the writer
        }
        uint8_t key = static_cast<uint8_t>(index % EPK2_KEY_COUNT + 1);
        builder_prepare(file, key, recompress, result, PIPELINE_MEMORY_LIMIT);
    }

    void run_worker() {
        lock_enter(&lock);
        while (!stop && next_job < files.size()) {
            uint32_t job = next_job;
            if (inline_files[job]) {
                ++next_job;
                continue;
            }
            if (!may_take(job)) {
                lock_leave(&lock);
                event_wait(&work);
                lock_enter(&lock);
                continue;
            }
            ++next_job;
            in_flight += weight(job);
            if (next_job < files.size() && may_take(next_job)) {
                event_signal(&work); // wake another worker for the next job
            }
            lock_leave(&lock);

            PreparedFile result;
            try {
                prepare(job, result);
            } catch (const std::bad_alloc&) {
                // Out of memory on a worker fails the pack, not the process.
                result = PreparedFile();
                result.error = "out of memory";
            }

            lock_enter(&lock);
            slots[job].result = std::move(result);
            slots[job].ready = true;
            event_signal(&ready);
        }
        lock_leave(&lock);
        event_signal(&work); // pass the wake-up on, so every worker sees the end
    }
};

namespace {
void worker_entry(void* argument) {
    static_cast<PreparePipeline::State*>(argument)->run_worker();
}
} // namespace

PreparePipeline::PreparePipeline(const std::vector<BuilderFile*>& files, bool recompress,
                                 unsigned workers)
    : state_(std::make_unique<State>(files, recompress)) {
    lock_init(&state_->lock, sizeof state_->lock.storage);
    event_create(&state_->work);
    event_create(&state_->ready);
    state_->threads.resize(workers);
    for (Thread& thread : state_->threads) {
        thread_start(&thread, nullptr, worker_entry, state_.get(), 0);
        if (thread.handle) {
            ++state_->started;
        }
    }
}

PreparePipeline::~PreparePipeline() {
    lock_enter(&state_->lock);
    state_->stop = true;
    lock_leave(&state_->lock);
    event_signal(&state_->work);
    for (Thread& thread : state_->threads) {
        if (thread.handle) {
            thread_join(&thread);
        }
    }
    event_destroy(&state_->ready);
    event_destroy(&state_->work);
    lock_delete(&state_->lock);
}

PreparedFile PreparePipeline::take(uint32_t index) {
    State& s = *state_;
    if (s.started == 0 || s.inline_files[index]) {
        PreparedFile result;
        s.prepare(index, result);
        return result;
    }
    lock_enter(&s.lock);
    // The files before this one are written: workers may run ahead of it.
    if (s.writer < index) {
        s.writer = index;
        lock_leave(&s.lock);
        event_signal(&s.work);
        lock_enter(&s.lock);
    }
    while (!s.slots[index].ready) {
        lock_leave(&s.lock);
        event_wait(&s.ready);
        lock_enter(&s.lock);
    }
    PreparedFile result = std::move(s.slots[index].result);
    s.slots[index].result = PreparedFile();
    s.writer = index + 1;
    s.in_flight -= s.weight(index);
    lock_leave(&s.lock);
    event_signal(&s.work);
    return result;
}
