#include "builder_pipeline.h"

#include <algorithm>
#include <deque>
#include <new>

#include "archive/epk2_format.h"
#include "stream/stream.h"
#include "support/threads.h"

// The chunks of one large file that a worker deflates, in order. Guarded by
// the pipeline's lock.
struct ChunkQueue {
    uint32_t index; // the file's
    std::deque<std::vector<unsigned char>> chunks;
    uint64_t queued = 0;    // bytes in chunks
    bool done = false;      // the worker has finished: end is final
    bool abandoned = false; // the writer wants no more chunks
    PreparePipeline::StreamedEnd end;
    Event space; // a chunk was taken, or the worker is to stop

    explicit ChunkQueue(uint32_t file) : index(file) { event_create(&space); }
    ~ChunkQueue() { event_destroy(&space); }
    ChunkQueue(const ChunkQueue&) = delete;
    ChunkQueue& operator=(const ChunkQueue&) = delete;
};

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
        std::unique_ptr<ChunkQueue> queue; // a streamed file's, until drained
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
    // Files too large to prepare in memory that are deflated: a worker
    // streams them to the writer through a queue of chunks.
    std::vector<bool> streamed_files;
    std::vector<ChunkQueue*> live;  // queues not yet drained
    uint64_t queued = 0;            // bytes in the chunks of every queue
    uint32_t draining = UINT32_MAX; // the file whose chunks the writer copies out

    State(const std::vector<BuilderFile*>& f, bool r)
        : files(f), recompress(r), slots(f.size()), inline_files(f.size()),
          streamed_files(f.size()) {
        for (size_t i = 0; i < f.size(); ++i) {
            inline_files[i] = builder_copies_in_place(*f[i], r);
            streamed_files[i] = !inline_files[i] && f[i]->size > PIPELINE_MEMORY_LIMIT &&
                                builder_streams_deflated(*f[i], r);
        }
        // Room for every queue, so that adding one under the lock never
        // allocates.
        live.reserve(std::count(streamed_files.begin(), streamed_files.end(), true));
    }

    // True when a worker must wait before it adds a chunk to queue (called
    // under the lock).
    bool queue_full(const ChunkQueue& queue) const {
        if (queued < PIPELINE_QUEUED_BYTES) {
            return false;
        }
        return queue.index != draining || queue.queued >= PIPELINE_QUEUE_ROOM;
    }

    // Queues a chunk for the writer, waiting while the queue is full; false
    // when the writer abandoned the file or the pack stops.
    bool push_chunk(ChunkQueue& queue, std::vector<unsigned char>& chunk) {
        lock_enter(&lock);
        while (queue_full(queue) && !queue.abandoned && !stop) {
            lock_leave(&lock);
            event_wait(&queue.space);
            lock_enter(&lock);
        }
        bool taken = !queue.abandoned && !stop;
        if (taken) {
            try {
                queue.chunks.push_back(std::move(chunk));
                queue.queued += queue.chunks.back().size();
                queued += queue.chunks.back().size();
            } catch (const std::bad_alloc&) {
                taken = false; // the deflate fails as on a full output
            }
        }
        lock_leave(&lock);
        chunk.clear();
        event_signal(&ready);
        return taken;
    }

    // Deflates a large file into its queue. The deflate runs exactly as the
    // writer's own would (same pieces of content, same parameters), so the
    // bytes are the same; only the window may be wider, since the file's
    // place in the archive is not known yet: the writer checks the end.
    void stream(uint32_t index) {
        ChunkQueue* queue = nullptr;
        try {
            auto made = std::make_unique<ChunkQueue>(index);
            queue = made.get();
            lock_enter(&lock);
            live.push_back(queue);
            slots[index].queue = std::move(made);
            slots[index].result.streamed = true;
            slots[index].ready = true;
            lock_leave(&lock);
        } catch (const std::bad_alloc&) {
            lock_enter(&lock);
            slots[index].result.error = "out of memory";
            slots[index].ready = true;
            lock_leave(&lock);
            event_signal(&ready);
            return;
        }
        event_signal(&ready);

        const BuilderFile& file = *files[index];
        PreparePipeline::StreamedEnd end;
        try {
            std::vector<unsigned char> buffer(BUILDER_COPY_BUFFER);
            if (builder_content_size(file, end.size, end.error)) {
                const uint64_t window =
                    std::min<uint64_t>(uint64_t(end.size) * 2, BUILDER_MAX_ARCHIVE);
                const uint8_t key = static_cast<uint8_t>(index % EPK2_KEY_COUNT + 1);
                builder_deflate_file(chunk_sink_open(queue, static_cast<uint32_t>(window)), file,
                                     end.size, key, buffer, end.window_full, end.error);
            }
        } catch (const std::bad_alloc&) {
            end.error = "out of memory";
        }
        lock_enter(&lock);
        queue->end = std::move(end);
        queue->done = true;
        lock_leave(&lock);
        event_signal(&ready);
    }

    Stream* chunk_sink_open(ChunkQueue* queue, uint32_t window);

    // Counts bytes of queue's chunks as gone and wakes the workers that may
    // have waited for them (called under the lock).
    void release(ChunkQueue& queue, uint64_t bytes) {
        const bool others_waited = queued >= PIPELINE_QUEUED_BYTES;
        queue.queued -= bytes;
        queued -= bytes;
        event_signal(&queue.space);
        if (others_waited) {
            for (ChunkQueue* other : live) {
                event_signal(&other->space);
            }
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

            if (streamed_files[job]) {
                stream(job);
                lock_enter(&lock);
                continue;
            }
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

// The bottom of a worker's deflate chain: gathers the scrambled bytes into
// chunks for the queue and, like a window of the output, refuses bytes
// past its length.
struct ChunkSink {
    const StreamOps* ops;
    PreparePipeline::State* state;
    ChunkQueue* queue;
    uint32_t position;
    uint32_t window;
    bool refused; // the queue took no more: every later write fails
    std::vector<unsigned char> pending;
};

// A chunk and the largest piece the deflater hands down at once, so that
// gathering a chunk never moves it.
constexpr size_t SINK_CAPACITY = PIPELINE_CHUNK + (64u << 10);

ChunkSink* sink_of(Stream* s) {
    return reinterpret_cast<ChunkSink*>(s);
}

bool sink_push(ChunkSink* sink) {
    if (!sink->refused && !sink->pending.empty() &&
        !sink->state->push_chunk(*sink->queue, sink->pending)) {
        sink->refused = true;
    }
    if (!sink->refused && sink->pending.capacity() == 0) {
        try {
            sink->pending.reserve(SINK_CAPACITY); // the last chunk went with its buffer
        } catch (const std::bad_alloc&) {
            // gathered as the bytes come
        }
    }
    return !sink->refused;
}

void sink_flush(Stream* s) {
    sink_push(sink_of(s));
}

void sink_close(Stream* s) {
    sink_push(sink_of(s));
    delete sink_of(s);
}

uint32_t sink_read(Stream*, void*, uint32_t) {
    return 0;
}

uint32_t sink_write(Stream* s, const void* buffer, uint32_t n) {
    ChunkSink* sink = sink_of(s);
    if (sink->refused) {
        return 0;
    }
    n = std::min(n, sink->window - sink->position);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    try {
        sink->pending.insert(sink->pending.end(), bytes, bytes + n);
    } catch (const std::bad_alloc&) {
        sink->refused = true;
        return 0;
    }
    sink->position += n;
    if (sink->pending.size() >= PIPELINE_CHUNK && !sink_push(sink)) {
        return 0;
    }
    return n;
}

// Bytes go out in order only: the sink stays where it is.
uint32_t sink_seek(Stream* s, int32_t, int) {
    return sink_of(s)->position;
}
uint32_t sink_tell(Stream* s) {
    return sink_of(s)->position;
}
uint32_t sink_size(Stream* s) {
    return sink_of(s)->window;
}
uint32_t sink_state(Stream*) {
    return STREAM_STATE_MORE;
}

const StreamOps chunk_sink_ops = {
    .close = sink_close,
    .read = sink_read,
    .write = sink_write,
    .flush = sink_flush,
    .seek = sink_seek,
    .tell = sink_tell,
    .size = sink_size,
    .state = sink_state,
};

} // namespace

Stream* PreparePipeline::State::chunk_sink_open(ChunkQueue* queue, uint32_t window) {
    auto* sink = new (std::nothrow) ChunkSink{&chunk_sink_ops, this, queue, 0, window, false, {}};
    if (!sink) {
        return nullptr;
    }
    try {
        sink->pending.reserve(SINK_CAPACITY);
    } catch (const std::bad_alloc&) {
        delete sink;
        return nullptr;
    }
    return reinterpret_cast<Stream*>(sink);
}

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
    // A worker may wait for room in a queue the writer no longer drains.
    for (ChunkQueue* queue : state_->live) {
        event_signal(&queue->space);
    }
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

bool PreparePipeline::take_chunk(uint32_t index, std::vector<unsigned char>& chunk,
                                 StreamedEnd& end) {
    State& s = *state_;
    lock_enter(&s.lock);
    ChunkQueue* queue = s.slots[index].queue.get();
    if (s.draining != index) {
        s.draining = index;
        event_signal(&queue->space); // its worker may wait for the others
    }
    while (queue->chunks.empty() && !queue->done) {
        lock_leave(&s.lock);
        event_wait(&s.ready);
        lock_enter(&s.lock);
    }
    if (!queue->chunks.empty()) {
        chunk = std::move(queue->chunks.front());
        queue->chunks.pop_front();
        s.release(*queue, chunk.size());
        lock_leave(&s.lock);
        return true;
    }
    end = std::move(queue->end);
    s.live.erase(std::find(s.live.begin(), s.live.end(), queue));
    s.slots[index].queue.reset(); // the worker is done with it
    lock_leave(&s.lock);
    return false;
}

void PreparePipeline::abandon(uint32_t index) {
    State& s = *state_;
    lock_enter(&s.lock);
    ChunkQueue* queue = s.slots[index].queue.get();
    if (queue) {
        queue->abandoned = true;
        queue->chunks.clear();
        s.release(*queue, queue->queued);
    }
    lock_leave(&s.lock);
}
