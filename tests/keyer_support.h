// Helpers of the keyer's end-to-end tests: running the real program, test
// scenes, and files written whole, cut short or lying about their size.
#pragma once

#include <string>

#include "interface/parameter_record.h"
#include "tests/support.h"
#include "keyer/image_file.h"

namespace tav::test {

using cli::Image;

struct Outcome {
    int status;        // the exit status; 128 + N when signal N ended it
    std::string errors;  // standard error
};

// Runs tavrisk with `arguments` (already quoted as needed), its standard
// error into a file of `folder` and its standard output into `output`;
// `wrapper` goes before the program (an environment assignment, `ulimit` in
// a subshell, a namespace).
Outcome Keyer(const TempFolder& folder, const std::string& arguments, const std::string& wrapper = "",
              const std::string& output = "/dev/null");
// `text` with "IN" standing for the folder's in.png and "DIR" for the
// folder, replaced in one pass (the folder's random name may itself hold
// either).
std::string Expand(const std::string& text, const TempFolder& folder);

// A scene on a green or blue screen: a subject with a soft edge, a strand,
// a translucent patch, white margins at the top and the left, and varying
// transparency.
Image Scene(int width, int height, bool green);
// A smooth picture to lay the foreground over.
Image Background(int width, int height);

void Write(const std::string& path, const Image& image);
Image Read(const std::string& path);
void WriteJpeg(const std::string& path, const Image& image);

// An 8-bit RGBA PNG that claims width x height pixels but whose image data
// holds only `rows` rows (complete chunks, an IEND at the end).
void WritePartialPng(const std::string& path, int width, int height, int rows);


// Over the area (left, top, w, h) of RGBA pixels `width` a row: the smallest
// and largest raw matte value, by the plain arithmetic, and the bounds of the
// pixels that are not pure white, relative to the area ((w, h, w, h) when
// there are none).
struct AreaSurvey {
    int lo, hi, left, top, right, bottom;
};
AreaSurvey SurveyArea(const std::vector<uint8_t>& rgba, int width, int left, int top, int w, int h, bool green);

// What the keyer must write for `settings` (screen already decided) over the
// area (left, top, w, h) of `input`, from the reference keying arithmetic.
Image Expected(const Image& input, const ParameterRecord& settings, int left, int top, int w, int h,
               const Image* background);

// The defaults with the dialog off.
ParameterRecord DefaultSettings();

}  // namespace tav::test
