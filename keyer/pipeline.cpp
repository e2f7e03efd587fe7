#include "keyer/pipeline.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

namespace tav::cli {
namespace {

// Items done by each stage, and which stages are at work.
struct Progress {
    std::mutex lock;
    std::condition_variable changed;
    size_t read = 0, keyed = 0, written = 0;
    bool reading = false, keying = false, writing = false;
    bool ended = false;  // the read stage found no more items
};

enum class Task { Read, Key, Write, Wait, Done };

// What a thread does next. The calling thread keys whenever it can; the
// keyer waiting for its next item makes the read the most urgent work;
// otherwise writing comes first, as it frees a slot. With one thread this
// is read, key, write, item after item.
Task Pick(const Progress& p, bool keyer, bool alone) {
    if (p.ended && p.written == p.read) return Task::Done;
    const bool canRead = !p.reading && !p.ended && p.read < p.written + kPipelineDepth;
    const bool canKey = keyer && !p.keying && p.keyed < p.read;
    const bool canWrite = !p.writing && p.written < p.keyed;
    if (canKey) return Task::Key;
    const bool keyerStarved = !alone && !p.keying && p.keyed == p.read;
    if (canRead && keyerStarved) return Task::Read;
    if (canWrite) return Task::Write;
    if (canRead) return Task::Read;
    return Task::Wait;
}

void Work(const PipelineStages& stages, Progress* p, bool keyer, bool alone) {
    std::unique_lock<std::mutex> hold(p->lock);
    for (;;) {
        const Task task = Pick(*p, keyer, alone);
        if (task == Task::Done) break;
        if (task == Task::Wait) {
            p->changed.wait(hold);
            continue;
        }
        if (task == Task::Read) {
            const size_t i = p->read;
            p->reading = true;
            hold.unlock();
            const bool got = stages.read(i);
            hold.lock();
            p->reading = false;
            if (got) p->read = i + 1;
            else p->ended = true;
        } else if (task == Task::Key) {
            const size_t i = p->keyed;
            p->keying = true;
            hold.unlock();
            stages.key(i);
            hold.lock();
            p->keying = false;
            p->keyed = i + 1;
        } else {
            const size_t i = p->written;
            p->writing = true;
            hold.unlock();
            stages.write(i);
            hold.lock();
            p->writing = false;
            p->written = i + 1;
        }
        p->changed.notify_all();
    }
    // The others may be waiting for the end.
    p->changed.notify_all();
}

}  // namespace

std::thread StartHelperThread(std::function<void()> body) {
    // The signals that end the process reach the calling thread, whose short
    // holds of them keep its files and folders from being left half made.
    sigset_t hold, previous;
    sigemptyset(&hold);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&hold, signal);
    pthread_sigmask(SIG_BLOCK, &hold, &previous);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

void RunPipeline(const PipelineStages& stages, int threads) {
    Progress progress;
    const int helpers = threads < 1 ? 0 : (threads > 3 ? 3 : threads) - 1;
    std::vector<std::thread> others;
    for (int i = 0; i < helpers; ++i)
        others.push_back(StartHelperThread([&stages, &progress] { Work(stages, &progress, false, false); }));
    Work(stages, &progress, true, helpers == 0);
    for (std::thread& t : others) t.join();
}

void RunSpreadPipeline(const PipelineStages& stages, int keyers) {
    const size_t count = size_t(std::max(keyers, 1)), depth = count + 1;
    std::mutex lock;
    std::condition_variable changed;
    size_t read = 0, written = 0;
    bool ended = false;
    std::vector<char> keyed(depth, 0);  // of item i, in slot i % depth
    auto finished = [&](auto&& update) {
        {
            std::lock_guard<std::mutex> hold(lock);
            update();
        }
        changed.notify_all();
    };
    // Each keyer's items in their order; item i once it has been read.
    auto key = [&](size_t first) {
        for (size_t i = first;; i += count) {
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return read > i || ended; });
                if (read <= i) return;
            }
            stages.key(i);
            finished([&] { keyed[i % depth] = 1; });
        }
    };
    auto write = [&] {
        for (size_t i = 0;; ++i) {
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return (read > i && keyed[i % depth]) || (ended && read <= i); });
                if (read <= i) return;
            }
            stages.write(i);
            finished([&] { keyed[i % depth] = 0, written = i + 1; });
        }
    };
    std::vector<std::thread> others;
    for (size_t k = 0; k < count; ++k) others.push_back(StartHelperThread([&key, k] { key(k); }));
    others.push_back(StartHelperThread(write));
    for (size_t i = 0;; ++i) {
        {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return i < written + depth; });
        }
        const bool got = stages.read(i);
        finished([&] { got ? void(read = i + 1) : void(ended = true); });
        if (!got) break;
    }
    for (std::thread& t : others) t.join();
}

}  // namespace tav::cli
