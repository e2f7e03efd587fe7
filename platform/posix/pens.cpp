#include "platform/posix/pens.h"

#include "resources/eyedropper.h"

namespace tav::platform {

namespace pens {
Pen g_blackPen{0, 0, 0};
Pen g_whitePen{255, 255, 255};

std::vector<uint8_t> EyedropperGreys() {
    static const char* const kRows[] = {TAVRISK_EYEDROPPER_ROWS};
    std::vector<uint8_t> greys;
    for (const char* row : kRows)
        for (const char* p = row; *p != '\0'; ++p)
            greys.push_back(*p == '#' ? 0 : *p == 'o' ? 128 : *p == 'w' ? 255 : 192);
    return greys;
}
}  // namespace pens

using pens::Pen;
using pens::PenStateOf;

PenHandle CreatePen(uint8_t red, uint8_t green, uint8_t blue) {
    return reinterpret_cast<PenHandle>(new Pen{red, green, blue});
}

void DeletePen(PenHandle pen) {
    auto* p = reinterpret_cast<Pen*>(pen);
    if (p != nullptr && p != &pens::g_blackPen && p != &pens::g_whitePen) delete p;
}

PenHandle BlackPen() { return reinterpret_cast<PenHandle>(&pens::g_blackPen); }
PenHandle WhitePen() { return reinterpret_cast<PenHandle>(&pens::g_whitePen); }

PenHandle SelectPen(DeviceContext context, PenHandle pen) {
    pens::PenState* s = PenStateOf(context);
    Pen* previous = s->pen;
    s->pen = reinterpret_cast<Pen*>(pen);
    return reinterpret_cast<PenHandle>(previous);
}

bool SetXorLines(DeviceContext context, bool xorLines) {
    pens::PenState* s = PenStateOf(context);
    const bool previous = s->xorLines;
    s->xorLines = xorLines;
    return previous;
}

void MoveTo(DeviceContext context, int x, int y) {
    pens::PenState* s = PenStateOf(context);
    s->x = x;
    s->y = y;
}

}  // namespace tav::platform
