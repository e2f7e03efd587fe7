// The clipboard of the program a plug-in library is loaded into, on POSIX
// systems. The library has no clipboard of its own there: a program that has
// one (GIMP's, for its plug-in program) offers the picture on it by
// exporting the function below as a dynamic symbol of its executable, and the
// library's clipboard (platform/clipboard.h) reads it through that. A program
// without the function has an empty clipboard.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct TavriskClipboardPicture {
    const void* bytes;    // a packed device-independent bitmap: BITMAPINFOHEADER, then the bits
    size_t size;          // of the block at `bytes`
    uint64_t generation;  // changes whenever the picture does
};

// Fills `picture` and returns true when the program's clipboard holds a
// picture; false when it holds none. The bytes stay as they are, and where
// they are, as long as the generation stays the same. Called on the thread
// that runs the plug-in's selectors.
__attribute__((visibility("default"))) bool TavriskProgramClipboard(TavriskClipboardPicture* picture);

}  // extern "C"

namespace tav::platform {
inline constexpr char kProgramClipboardSymbol[] = "TavriskProgramClipboard";
using ProgramClipboardReader = bool (*)(TavriskClipboardPicture* picture);
}  // namespace tav::platform
