// The passes of a run split across threads: a thin driver that owns the
// helper threads, the progress and the cancellation, around kernels that see
// only their buffers and a region of them (rows, or strips of lines).
//
// A pass is a number of pieces. Threads claim the next unclaimed piece, in
// order, whenever they are free; a piece is prepared and then worked part by
// part on the thread that claimed it. Every output byte of a pass belongs to
// one piece, and its kernel computes it with the same arithmetic in the same
// order whichever thread does, so the result never depends on the number of
// threads.
#pragma once

#include <cstdint>

namespace tav {

struct MatteJob;

// The most threads a pass uses: the passes are bound by memory long before,
// and every thread has scratch memory of its own.
constexpr int32_t kMaxPassThreads = 16;

// How a piece is worked: `parts` parts, in order, on the thread that began
// it; `firstSteps` progress steps are begun with it and `stepsPerPart` with
// each of its parts.
struct PieceShape {
    int32_t parts;
    int32_t firstSteps;
    int32_t stepsPerPart;
};

struct SplitPass {
    int32_t pieces;
    void* kernel;  // the kernel's buffers and settings, handed to begin and work
    // Prepares `piece` on thread `thread` (0 .. threads - 1; each thread has
    // the scratch of that number to itself) and tells how it is worked.
    PieceShape (*begin)(void* kernel, int32_t thread, int32_t piece);
    // Works part `part` of `piece`, which this thread began last.
    void (*work)(void* kernel, int32_t thread, int32_t piece, int32_t part);
};

// The threads for a pass of `pieces` pieces: `limit` when it is positive,
// otherwise one a processor the process may run on; never more than
// kMaxPassThreads or `pieces`, and at least 1.
int32_t PassThreads(int32_t limit, int32_t pieces);

// Works every piece of `pass` with `threads` threads: the calling one (thread
// 0) and helpers it starts (fewer when no more can be made), which have all
// ended when it returns. With a job:
// - progress: the steps begun by any thread are reported on the calling
//   thread alone, as firstStep, firstStep + 1, ... in order and each once,
//   before its next part and at the end of the pass;
// - cancellation: every thread looks for a cancel request of the job before
//   each piece and each part, and the calling thread also after every step it
//   reports; a thread that finds one stops. False when the pass was stopped,
//   true when every part was worked and every step reported.
// Without a job, nothing is reported and nothing stops the pass.
bool RunPass(const SplitPass& pass, int32_t threads, MatteJob* job, int32_t firstStep);

}  // namespace tav
