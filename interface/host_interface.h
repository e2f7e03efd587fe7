// The host's filter interface: the binary layouts, callbacks, selectors and
// result codes that hosts of .8bf filters use. Every layout here must match the
// host byte for byte, on 32-bit and 64-bit Windows alike; the offsets are
// checked at compile time for the target being built.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

using Boolean = unsigned char;
using OSType = uint32_t;
using OSErr = int16_t;
using Fixed = int32_t;
using Handle = char**;

// Four-character codes are stored as 32-bit integers with the first character
// in the most significant byte ('8BIM' is 0x3842494D; in memory on a
// little-endian machine the bytes read "MIB8").
constexpr OSType FourCC(const char (&s)[5]) {
    return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) |
           (OSType(uint8_t(s[2])) << 8) | OSType(uint8_t(s[3]));
}

struct Point {
    int16_t v;
    int16_t h;
};

// Host rectangle: top, left, bottom, right.
struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

using FilterColor = unsigned char[4];

struct VRect {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
};

struct PlugInMonitor {
    Fixed gamma;
    Fixed redX, redY;
    Fixed greenX, greenY;
    Fixed blueX, blueY;
    Fixed whiteX, whiteY;
    Fixed ambient;
};

struct PSPixelMask {
    PSPixelMask* next;
    void* maskData;
    int32_t rowBytes;
    int32_t colBytes;
    int32_t maskDescription;
};

struct PSPixelMap {
    int32_t version;
    VRect bounds;
    int32_t imageMode;
    int32_t rowBytes;
    int32_t colBytes;
    int32_t planeBytes;
    void* baseAddr;
    PSPixelMask* mat;
    PSPixelMask* masks;
    int32_t maskPhaseRow;
    int32_t maskPhaseCol;
};

extern "C" {
typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef OSErr (*AdvanceStateProc)(void);
typedef OSErr (*DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect,
                                   int32_t dstRow, int32_t dstCol, void* platformContext);
typedef void (*HostProc)(int16_t selector, intptr_t* data);
typedef void (*ProcessEventProc)(void* event);
}

struct PlatformData {
    intptr_t hwnd;  // the host's parent window
};

struct AboutRecord {
    void* platformData;
    void* sSPBasic;
    void* plugInRef;
    char reserved[244];
};

#pragma pack(push, 4)
struct FilterRecord {
    int32_t serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    Handle parameters;
    Point imageSize;
    int16_t planes;
    Rect filterRect;
    RGBColor background;
    RGBColor foreground;
    int32_t maxSpace;
    int32_t bufferSpace;
    Rect inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;
    Rect outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;
    void* inData;
    int32_t inRowBytes;
    void* outData;
    int32_t outRowBytes;
    Boolean isFloating;
    Boolean haveMask;
    Boolean autoMask;
    Rect maskRect;
    void* maskData;
    int32_t maskRowBytes;
    FilterColor backColor;
    FilterColor foreColor;
    OSType hostSig;
    HostProc hostProc;
    int16_t imageMode;
    Fixed imageHRes;
    Fixed imageVRes;
    Point floatCoord;
    Point wholeSize;
    PlugInMonitor monitor;
    void* platformData;
    void* bufferProcs;
    void* resourceProcs;
    ProcessEventProc processEvent;
    DisplayPixelsProc displayPixels;
    void* handleProcs;
    Boolean supportsDummyChannels;
    Boolean supportsAlternateLayouts;
    int16_t wantLayout;
    int16_t filterCase;
    int16_t dummyPlaneValue;
    void* premiereHook;
    AdvanceStateProc advanceState;
    Boolean supportsAbsolute;
    Boolean wantsAbsolute;
    void* getPropertyObsolete;
    Boolean cannotUndo;
    Boolean supportsPadding;
    int16_t inputPadding;
    int16_t outputPadding;
    int16_t maskPadding;
    char samplingSupport;
    char reservedByte;
    Fixed inputRate;
    Fixed maskRate;
    void* colorServices;
    // Later fields of newer hosts follow; this plug-in uses none of them.
};
#pragma pack(pop)

// The bytes a host of interface version 4 passes at least (trailing reserved
// bytes included). Test hosts allocate more and zero-fill it.
constexpr size_t kFilterRecordV4Size = sizeof(void*) == 8 ? 544 : 452;

// ---- Layout proofs ------------------------------------------------------

static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8 && sizeof(RGBColor) == 6);
static_assert(sizeof(VRect) == 16 && sizeof(PlugInMonitor) == 40);
static_assert(sizeof(FilterColor) == 4);

#define TAV_OFFSET(field, x86, x64) \
    static_assert(offsetof(FilterRecord, field) == (sizeof(void*) == 8 ? (x64) : (x86)), \
                  "FilterRecord." #field " is misplaced")
TAV_OFFSET(serialNumber, 0, 0);
TAV_OFFSET(abortProc, 4, 4);
TAV_OFFSET(progressProc, 8, 12);
TAV_OFFSET(parameters, 12, 20);
TAV_OFFSET(imageSize, 16, 28);
TAV_OFFSET(planes, 20, 32);
TAV_OFFSET(filterRect, 22, 34);
TAV_OFFSET(background, 30, 42);
TAV_OFFSET(foreground, 36, 48);
TAV_OFFSET(maxSpace, 44, 56);
TAV_OFFSET(bufferSpace, 48, 60);
TAV_OFFSET(inRect, 52, 64);
TAV_OFFSET(inLoPlane, 60, 72);
TAV_OFFSET(inHiPlane, 62, 74);
TAV_OFFSET(outRect, 64, 76);
TAV_OFFSET(outLoPlane, 72, 84);
TAV_OFFSET(outHiPlane, 74, 86);
TAV_OFFSET(inData, 76, 88);
TAV_OFFSET(inRowBytes, 80, 96);
TAV_OFFSET(outData, 84, 100);
TAV_OFFSET(outRowBytes, 88, 108);
TAV_OFFSET(isFloating, 92, 112);
TAV_OFFSET(haveMask, 93, 113);
TAV_OFFSET(autoMask, 94, 114);
TAV_OFFSET(maskRect, 96, 116);
TAV_OFFSET(maskData, 104, 124);
TAV_OFFSET(maskRowBytes, 108, 132);
TAV_OFFSET(backColor, 112, 136);
TAV_OFFSET(foreColor, 116, 140);
TAV_OFFSET(hostSig, 120, 144);
TAV_OFFSET(hostProc, 124, 148);
TAV_OFFSET(imageMode, 128, 156);
TAV_OFFSET(imageHRes, 132, 160);
TAV_OFFSET(imageVRes, 136, 164);
TAV_OFFSET(floatCoord, 140, 168);
TAV_OFFSET(wholeSize, 144, 172);
TAV_OFFSET(monitor, 148, 176);
TAV_OFFSET(platformData, 188, 216);
TAV_OFFSET(bufferProcs, 192, 224);
TAV_OFFSET(resourceProcs, 196, 232);
TAV_OFFSET(processEvent, 200, 240);
TAV_OFFSET(displayPixels, 204, 248);
TAV_OFFSET(handleProcs, 208, 256);
TAV_OFFSET(supportsDummyChannels, 212, 264);
TAV_OFFSET(supportsAlternateLayouts, 213, 265);
TAV_OFFSET(wantLayout, 214, 266);
TAV_OFFSET(filterCase, 216, 268);
TAV_OFFSET(dummyPlaneValue, 218, 270);
TAV_OFFSET(premiereHook, 220, 272);
TAV_OFFSET(advanceState, 224, 280);
TAV_OFFSET(supportsAbsolute, 228, 288);
TAV_OFFSET(wantsAbsolute, 229, 289);
TAV_OFFSET(getPropertyObsolete, 232, 292);
TAV_OFFSET(cannotUndo, 236, 300);
TAV_OFFSET(supportsPadding, 237, 301);
TAV_OFFSET(inputPadding, 238, 302);
TAV_OFFSET(outputPadding, 240, 304);
TAV_OFFSET(maskPadding, 242, 306);
TAV_OFFSET(samplingSupport, 244, 308);
TAV_OFFSET(reservedByte, 245, 309);
TAV_OFFSET(inputRate, 248, 312);
TAV_OFFSET(maskRate, 252, 316);
TAV_OFFSET(colorServices, 256, 320);
#undef TAV_OFFSET

#define TAV_MAP_OFFSET(field, x86, x64) \
    static_assert(offsetof(PSPixelMap, field) == (sizeof(void*) == 8 ? (x64) : (x86)), \
                  "PSPixelMap." #field " is misplaced")
TAV_MAP_OFFSET(version, 0, 0);
TAV_MAP_OFFSET(bounds, 4, 4);
TAV_MAP_OFFSET(imageMode, 20, 20);
TAV_MAP_OFFSET(rowBytes, 24, 24);
TAV_MAP_OFFSET(colBytes, 28, 28);
TAV_MAP_OFFSET(planeBytes, 32, 32);
TAV_MAP_OFFSET(baseAddr, 36, 40);
TAV_MAP_OFFSET(mat, 40, 48);
TAV_MAP_OFFSET(masks, 44, 56);
TAV_MAP_OFFSET(maskPhaseRow, 48, 64);
TAV_MAP_OFFSET(maskPhaseCol, 52, 68);
#undef TAV_MAP_OFFSET
static_assert(sizeof(PSPixelMap) == (sizeof(void*) == 8 ? 72 : 56));
static_assert(sizeof(AboutRecord) == (sizeof(void*) == 8 ? 272 : 256));
static_assert(offsetof(AboutRecord, platformData) == 0);
static_assert(sizeof(PlatformData) == sizeof(void*));

// ---- Selectors, results, modes -----------------------------------------

enum : int16_t {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

enum : int16_t {
    noErr = 0,
    memFullErr = -108,
    userCanceledErr = -128,
    filterBadParameters = -30100,
    filterBadMode = -30101,
};

enum : int16_t {
    filterCaseUnsupported = 0,
    filterCaseFlatImageNoSelection = 1,
    filterCaseFlatImageWithSelection = 2,
    filterCaseFloatingSelection = 3,
    filterCaseEditableTransparencyNoSelection = 4,
    filterCaseEditableTransparencyWithSelection = 5,
    filterCaseProtectedTransparencyNoSelection = 6,
    filterCaseProtectedTransparencyWithSelection = 7,
};

enum : int16_t {
    plugInModeGrayScale = 1,
    plugInModeRGBColor = 3,
    plugInModeCMYKColor = 4,
    plugInModeRGB48 = 11,
};

enum : int16_t {
    plugInPadReplicate = -1,
    plugInPadNone = -2,
    plugInPadError = -3,
};

constexpr Fixed kFixedOne = 0x10000;

}  // namespace tav

// The plug-in's one export. Undecorated, C calling convention; on Windows
// the module definition file exports it, elsewhere its visibility does.
#if defined(_WIN32)
#define TAV_EXPORT
#else
#define TAV_EXPORT __attribute__((visibility("default")))
#endif
extern "C" {
TAV_EXPORT void ENTRYPOINT(int16_t selector, tav::FilterRecord* record, intptr_t* data, int16_t* result);
}
