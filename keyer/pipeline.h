// Items through three stages - read, key, write - with the stages of
// different items at work at the same time: the next item is read and the
// previous one written while the current one is keyed.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

namespace tav::cli {

// At most this many items are between the start of their read and the end
// of their write: item i may keep what it holds in slot i % kPipelineDepth.
constexpr size_t kPipelineDepth = 3;

// Each stage takes the items one at a time, in their order; an item is keyed
// after it was read and written after it was keyed.
struct PipelineStages {
    // False: there is no item `i`, and nothing more is read.
    std::function<bool(size_t i)> read;
    std::function<void(size_t i)> key;
    std::function<void(size_t i)> write;
};

// Runs every item through the stages on at most `threads` threads, the
// calling one included; keying only ever runs on the calling thread. With
// one thread the stages run one after the other: read, key and write the
// first item, then the second. More than three threads are not used.
void RunPipeline(const PipelineStages& stages, int threads);

// Runs every item through the stages with `keyers` items keyed at once, on
// threads of their own (item i on the (i % keyers)-th; keys start in the
// items' order and may end in any), and at most keyers + 1 items between the
// start of their read and the end of their write: item i may keep what it
// holds in slot i % (keyers + 1). The calling thread reads, another writes.
void RunSpreadPipeline(const PipelineStages& stages, int keyers);

// Starts `body` on a thread of its own that takes none of the signals that
// end the process (those reach the thread that handles them).
std::thread StartHelperThread(std::function<void()> body);

}  // namespace tav::cli
