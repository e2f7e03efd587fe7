// Frames keyed side by side, each in a process of its own. The plug-in, like
// any filter, runs once at a time in a process (its working buffers, its
// clipboard and its host are the process's); several runs at once take
// several processes. The keyer forks them before it starts a thread; each
// keys the frames it is handed where they lie, in memory shared with the
// keyer, and answers with the outcome: nothing is copied between them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "keyer/job.h"

namespace tav::cli {

// Memory that the keying processes forked after it see as the keyer does.
class SharedMemory {
public:
    SharedMemory() = default;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory();
    // `bytes` of zeros; false (errno) when they cannot be had.
    bool Allocate(size_t bytes);
    uint8_t* data() const { return data_; }

private:
    uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
};

class KeyingProcess {
public:
    KeyingProcess() = default;
    KeyingProcess(const KeyingProcess&) = delete;
    KeyingProcess& operator=(const KeyingProcess&) = delete;
    ~KeyingProcess() { Stop(); }

    // Forks the process, which keys with `batch`'s settings and background
    // the frames that lie in `shared` (forked after it). `others` are the
    // processes started before, whose channels the new one must not hold.
    // False, with errno, when it cannot be started. Only while the keyer
    // runs no thread but the caller's.
    bool Start(Batch* batch, const SharedMemory& shared, KeyingProcess* others, size_t count);

    // Has the process key `job`'s frame (its size, area and settings), which
    // lies at `pixels` in the shared memory, and waits for it. False, saying
    // why in `why`, when it could not key it or has ended.
    bool Key(const Job& job, uint8_t* pixels, double* seconds, std::string* why);

    // Ends the process (it finishes the frame it keys) and waits for it.
    void Stop();

private:
    pid_t pid_ = -1;
    int channel_ = -1;
    const uint8_t* shared_ = nullptr;
    std::string ended_;  // why it has ended, once it has
};

}  // namespace tav::cli
