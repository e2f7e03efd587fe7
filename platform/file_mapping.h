// Temporary files and file mappings, for the large working buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav::platform {

constexpr size_t kMaxPath = 260;

using FileHandle = intptr_t;     // kNoFile when none
using MappingHandle = intptr_t;  // kNoMapping when none
constexpr FileHandle kNoFile = -1;
constexpr MappingHandle kNoMapping = 0;

// The folder for temporary files, with a trailing separator, into `buffer`
// of `size` characters. Returns false when there is none.
bool GetTempFolder(char* buffer, size_t size);

// Composes folder + prefix + `unique` (hexadecimal) + the temporary-file
// extension into `buffer` of kMaxPath characters, without creating or testing
// the file. `unique` must not be 0. Returns false when the name does not fit.
bool MakeTempFileName(const char* folder, const char* prefix, unsigned unique, char* buffer);

// Creates (or truncates) the file for exclusive read-write use; the file is
// deleted when it is closed, and never outlives the process.
FileHandle CreateTempFile(const char* path);
void CloseTempFile(FileHandle file);

// A read-write mapping of exactly `size` bytes over the file (the file grows
// to that size). kNoMapping on failure.
MappingHandle CreateMapping(FileHandle file, uint64_t size);
void CloseMapping(MappingHandle mapping);

// A writable view of the whole mapping; null on failure.
void* MapWholeView(MappingHandle mapping);
void UnmapView(void* view, MappingHandle mapping);

// Kept views. Where the system keeps released views for reuse (POSIX: at
// most four and 1 GiB in all, the newest kept first), a
// later request of the same size takes a kept view, already faulted in,
// instead of making a file and mapping it afresh; a request that none of
// them fits lets them all go first. Elsewhere (Windows) views are never
// kept and these two do nothing.
//
// Makes `count` views of `size` bytes, faults them in and releases them, so
// that they are kept for the next requests of that size: for a process with
// a spare moment before work that will ask for them (the keyer faults in a
// run's working buffers while it decodes the image). Never while buffers of
// that process are in use by a run. Failures are silent.
void PrepareKeptViews(uint64_t size, int count);
// Lets the kept views go now: for a process that will ask for no more.
void ReleaseKeptViews();

// A hint that every byte of the view is about to be written: where the
// system allows, its pages are brought in with one call rather than one
// fault at a time. Nothing happens where it does not.
void PrefaultView(void* view, MappingHandle mapping);

// True while a file of that name exists in the file system.
bool FileExists(const char* path);

// Why the last temporary-file operation that failed in this process failed,
// as "where: reason" (the folder or file, and the system's words), or the
// empty text when none has failed since ClearTempFileError. For messages.
const char* LastTempFileError();
void ClearTempFileError();

// Removes this process's temporary files and their folder at once, for a
// process about to end because of a signal. Safe to call from a signal
// handler; waits (2 s at most) for other threads to finish making a file or
// the folder, and parks any thread that starts making one afterwards.
void DiscardTempFilesNow();

}  // namespace tav::platform
