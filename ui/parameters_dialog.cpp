#include "ui/parameters_dialog.h"

#include <algorithm>
#include <cstdio>

#include "runtime/capture.h"
#include "runtime/matte_run.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "output/compose.h"
#include "output/preview.h"
#include "ui/preview_pane.h"
#include "platform/module.h"
#include "resources/dialog_template.h"
#include "resources/strings.h"
#include "ui/about_box.h"
#include "ui/registry.h"
#include "ui/settings_file.h"

namespace tav {
namespace {

using platform::WindowHandle;

// The dialog's own state (one dialog at a time).
PluginState* g_state = nullptr;
bool g_initialising = false;

// A number field of the record with its edit box and, when it has one, its
// scroll bar.
struct NumberField {
    int editId;
    int scrollId;  // 0: none
    int32_t minimum;
    int32_t maximum;
    uint8_t ParameterRecord::*byteField;
    int32_t ParameterRecord::*wordField;

    int32_t Get(const ParameterRecord& p) const { return byteField != nullptr ? p.*byteField : p.*wordField; }
    void Set(ParameterRecord& p, int32_t v) const {
        if (byteField != nullptr)
            p.*byteField = uint8_t(v);
        else
            p.*wordField = v;
    }
};

constexpr NumberField Word(int edit, int scroll, int32_t lo, int32_t hi, int32_t ParameterRecord::*field) {
    return {edit, scroll, lo, hi, nullptr, field};
}
constexpr NumberField Byte(int edit, int scroll, uint8_t ParameterRecord::*field) {
    return {edit, scroll, 0, 255, field, nullptr};
}

constexpr NumberField kFields[] = {
    Word(IDC_CORRECTION_R, 0, -255, 255, &ParameterRecord::CorrectionR),
    Word(IDC_CORRECTION_G, 0, -255, 255, &ParameterRecord::CorrectionG),
    Word(IDC_CORRECTION_B, 0, -255, 255, &ParameterRecord::CorrectionB),
    Byte(IDC_FORCE_BLACK, IDC_FORCE_BLACK_SCROLL, &ParameterRecord::ForceBlack),
    Byte(IDC_FORCE_WHITE, IDC_FORCE_WHITE_SCROLL, &ParameterRecord::ForceWhite),
    Byte(IDC_GAMMA, IDC_GAMMA_SCROLL, &ParameterRecord::Gamma),
    Byte(IDC_MATTE_BLUR, IDC_MATTE_BLUR_SCROLL, &ParameterRecord::MatteBlur),
    Word(IDC_MATTE_CHOKE, IDC_MATTE_CHOKE_SCROLL, -128, 128, &ParameterRecord::MatteChoke),
    Byte(IDC_PROTECTION, IDC_PROTECTION_SCROLL, &ParameterRecord::Protection),
    Byte(IDC_RESTORE_R, 0, &ParameterRecord::RestoreR),
    Byte(IDC_RESTORE_G, 0, &ParameterRecord::RestoreG),
    Byte(IDC_RESTORE_B, 0, &ParameterRecord::RestoreB),
    Byte(IDC_REMOVAL, IDC_REMOVAL_SCROLL, &ParameterRecord::BlueRemoval),
};

const NumberField* FieldOfEdit(int id) {
    for (const NumberField& f : kFields)
        if (f.editId == id) return &f;
    return nullptr;
}

const NumberField* FieldOfScrollBar(int id) {
    for (const NumberField& f : kFields)
        if (f.scrollId != 0 && f.scrollId == id) return &f;
    return nullptr;
}

ParameterRecord& Record() { return *GetParameters(g_state->filterRecord); }

uint16_t LowWord(uintptr_t v) { return uint16_t(v & 0xFFFF); }
uint16_t HighWord(uintptr_t v) { return uint16_t((v >> 16) & 0xFFFF); }

void WriteNumber(WindowHandle dialog, int id, int32_t value, bool signedNumber) {
    char text[16];
    if (signedNumber)
        std::snprintf(text, sizeof text, "%d", int(value));
    else
        std::snprintf(text, sizeof text, "%u", unsigned(value));
    platform::SetControlText(dialog, id, text);
}

// The number in an edit box: blanks, a minus sign when the box is signed,
// digits, blanks. Anything else (empty text, letters, a minus sign in an
// unsigned box, a number beyond 32 bits) reads as 0.
int32_t ReadNumber(WindowHandle dialog, int id, bool signedNumber) {
    char text[64];
    platform::GetControlText(dialog, id, text, int(sizeof text));
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    const bool negative = signedNumber && *p == '-';
    if (negative) ++p;
    if (*p < '0' || *p > '9') return 0;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > int64_t(INT32_MAX) + 1) return 0;
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '\0') return 0;
    value = negative ? -value : value;
    return value > INT32_MAX ? 0 : int32_t(value);
}

void SetZoomLabel(WindowHandle dialog, int zoom) {
    char text[16];
    if (zoom >= 1)
        std::snprintf(text, sizeof text, "%d : 1", zoom);
    else
        std::snprintf(text, sizeof text, "1 : %d", -zoom);
    platform::SetControlText(dialog, IDC_ZOOM_LABEL, text);
}

// The full refresh after a change of a setting; without the worker's restart
// the preview refresh.
void Refresh(WindowHandle dialog, bool restart) {
    if (g_initialising) return;
    RefreshPreview(dialog, g_state, restart);
}

// The remembered position, when both coordinates are stored and the dialog
// would be on a monitor there.
void MoveToRememberedPosition(WindowHandle dialog) {
    uint8_t data[kSettingsIntBufferSize];
    uint32_t type = 0, size = sizeof data;
    const bool read = QuerySettingsValue(kUserSettingsKey, kPosXValue, data, &type, &size) != 0;
    const int32_t x = ConvertSettingsInt(read, type, data, size, kNoStoredPosition);
    const int32_t y = ReadSettingsInt(kUserSettingsKey, kPosYValue, kNoStoredPosition);
    if (x == kNoStoredPosition || y == kNoStoredPosition) return;
    const platform::PixelRect now = platform::DialogScreenRect(dialog);
    const platform::PixelRect there{x, y, x + (now.right - now.left), y + (now.bottom - now.top)};
    if (platform::OnSomeMonitor(there)) platform::MoveDialog(dialog, x, y);
}

void Open(WindowHandle dialog, PluginState* state) {
    g_state = state;
    g_initialising = true;
    MoveToRememberedPosition(dialog);
    Pane() = PaneState{};
    Pane().whitePen = platform::CreatePen(255, 255, 255);
    const platform::PixelRect frame = platform::ControlRect(dialog, IDC_PREVIEW);
    SetPreviewRect(platform::PixelRect{frame.left + 2, frame.top + 2, frame.right - 2, frame.bottom - 2});
    ParameterRecord& p = Record();
    FitPreviewZoom(state);
    p.PreviewZoom = p.FitZoom;
    p.ScreenColor = uint8_t(DetectScreenColor(state));
    FillDialogControls(dialog, state);
    LayOutPreview(state);
    BuildMatteTable(state);
    RenderChosenPreview(state);
    InvalidatePreviewPane(dialog);
    RestartWorker(state);
    state->savedParameters = p;
    g_initialising = false;
}

void Close(WindowHandle dialog, int id) {
    const platform::PixelRect r = platform::DialogScreenRect(dialog);
    // PosX by the rule of WriteSettingsInt: a number when 0 or more, text
    // when negative.
    char text[16];
    if (r.left >= 0) {
        const uint32_t value = uint32_t(r.left);
        WriteSettingsValue(kUserSettingsKey, kPosXValue, &value, platform::kRegistryNumber, sizeof value);
    } else {
        const int length = std::snprintf(text, sizeof text, "%d", int(r.left));
        WriteSettingsValue(kUserSettingsKey, kPosXValue, text, platform::kRegistryText, uint32_t(length + 1));
    }
    WriteSettingsInt(kUserSettingsKey, kPosYValue, r.top);
    platform::EndDialog(dialog, id);
}

void Zoom(WindowHandle dialog, int id) {
    ParameterRecord& p = Record();
    if (id == IDC_ZOOM_IN) {
        if (p.PreviewZoom == 1) return;
        p.PreviewZoom = int8_t(p.PreviewZoom + 1 == -1 ? 1 : p.PreviewZoom + 1);
    } else {
        if (p.PreviewZoom == p.FitZoom) return;
        p.PreviewZoom = int8_t(p.PreviewZoom - 1 == 0 ? -2 : p.PreviewZoom - 1);
    }
    SetZoomLabel(dialog, p.PreviewZoom);
    LayOutPreview(g_state);
    Refresh(dialog, false);
}

void ReleaseMouseButton(WindowHandle dialog, uintptr_t first, intptr_t second) {
    PaneState& pane = Pane();
    if (pane.pickCapture) {
        PaneMouseMove(dialog, first, second, g_state);
        platform::ReleaseMouse();
        pane.pickCapture = false;
        EndPick(dialog, g_state);
    } else if (g_state->panning) {
        PaneMouseMove(dialog, first, second, g_state);
        platform::ReleaseMouse();
        g_state->panning = 0;
        LayOutPreview(g_state);
        RefreshPreview(dialog, g_state, false);
    }
}

// The command message; its result.
intptr_t Command(WindowHandle dialog, uintptr_t first) {
    const int id = LowWord(first);
    const uint16_t code = HighWord(first);
    ParameterRecord& p = Record();
    switch (id) {
        case platform::kCommandOk:
            Close(dialog, platform::kCommandOk);
            return 1;
        case platform::kCommandCancel:
            StopWorker(g_state);
            p = g_state->savedParameters;
            Close(dialog, platform::kCommandCancel);
            return 1;
        case IDC_HELP_BUTTON: {
            char path[kSettingsTextSize];
            LookUpHelpFile(path);
            platform::OpenHelpContents(dialog, path);
            return 1;
        }
        case IDC_ABOUT_BUTTON:
            ShowAboutBox(g_state, dialog);
            return 1;
        case IDC_SCREEN_COLOR:
            p.ScreenColor = uint8_t(platform::SelectedListItem(dialog, IDC_SCREEN_COLOR));
            Refresh(dialog, true);
            return 1;
        case IDC_OUTPUT:
            if (code != platform::kNotifySelectionChanged) return 0;
            p.OutputMethod = uint8_t(platform::SelectedListItem(dialog, IDC_OUTPUT));
            Refresh(dialog, false);
            return 0;
        case IDC_DYNAMIC_RANGE:
            p.DynamicRange = platform::IsChecked(dialog, IDC_DYNAMIC_RANGE) ? 1 : 0;
            Refresh(dialog, true);
            return 1;
        case IDC_SHOW_MATTE:
            // The preview's view alone: the result does not change.
            p.ShowMatte = platform::IsChecked(dialog, IDC_SHOW_MATTE) ? 1 : 0;
            Refresh(dialog, false);
            return 1;
        case IDC_PICK_CORRECTION:
        case IDC_PICK_FORCE_BLACK:
        case IDC_PICK_FORCE_WHITE:
            TogglePickMode(dialog, id, g_state);
            return 1;
        case IDC_ZOOM_IN:
        case IDC_ZOOM_OUT:
            Zoom(dialog, id);
            return 1;
        case IDC_LOAD:
            if (LoadSettingsFile(dialog, g_state) == 1) {
                FillDialogControls(dialog, g_state);
                Refresh(dialog, true);
            }
            return 1;
        case IDC_SAVE:
            SaveSettingsFile(dialog, g_state);
            return 1;
        default:
            break;
    }
    if (const NumberField* field = FieldOfEdit(id)) {
        bool changed = false;
        const int32_t value = ApplyEditChange(dialog, first, field->editId, field->scrollId, field->minimum,
                                              field->maximum, field->Get(p), &changed);
        field->Set(p, value);
        if (changed) Refresh(dialog, true);
        return 1;
    }
    return 0;
}

void HorizontalScroll(WindowHandle dialog, uintptr_t first, intptr_t second) {
    const NumberField* field = FieldOfScrollBar(platform::ControlIdOf(second));
    if (field == nullptr) return;
    ParameterRecord& p = Record();
    const int32_t value = ApplyScrollAction(dialog, first, field->scrollId, field->editId, field->minimum,
                                            field->maximum, field->Get(p));
    field->Set(p, value);
    // Whatever the code and whether or not the value changed.
    RefreshPreview(dialog, g_state, true);
}

}  // namespace

void RunParametersDialog(PluginState* state) {
    const FilterRecord* record = state->filterRecord;
    platform::WindowHandle owner = 0;
    if (record->platformData != nullptr) owner = static_cast<const PlatformData*>(record->platformData)->hwnd;
    const intptr_t code =
        platform::RunModalDialog("TAVRISKPARAM", owner, ParametersDialogProc, reinterpret_cast<intptr_t>(state));
    if (code == platform::kCommandCancel || code == -1) state->result = 1;
}

intptr_t ParametersDialogProc(WindowHandle dialog, uint32_t message, uintptr_t first, intptr_t second) {
    switch (message) {
        case platform::kMessageInitDialog:
            Open(dialog, reinterpret_cast<PluginState*>(second));
            return 1;
        case platform::kMessageCommand:
            return g_state != nullptr ? Command(dialog, first) : 0;
        case platform::kMessageHScroll:
            if (g_state != nullptr) HorizontalScroll(dialog, first, second);
            return 0;
        case platform::kMessagePaint:
            if (g_state != nullptr) PaintPreviewPane(g_state, dialog);
            return 0;
        case platform::kMessageDrawItem:
            return g_state != nullptr ? DrawOwnerButton(dialog, int(first), second, g_state) : 0;
        case platform::kMessageButtonDown:
            if (g_state != nullptr) PaneMouseDown(dialog, first, second, g_state);
            return 0;
        case platform::kMessageMouseMove:
            if (g_state != nullptr) PaneMouseMove(dialog, first, second, g_state);
            return 0;
        case platform::kMessageButtonUp:
            if (g_state != nullptr) ReleaseMouseButton(dialog, first, second);
            return 0;
        case platform::kMessageDestroy:
            if (Pane().whitePen != 0) platform::DeletePen(Pane().whitePen);
            Pane().whitePen = 0;
            g_state = nullptr;
            return 0;
        default:
            return 0;
    }
}

void FillDialogControls(WindowHandle dialog, PluginState* state) {
    ParameterRecord& p = *GetParameters(state->filterRecord);
    const platform::ModuleHandle module = platform::ThisModule();
    char text[32];
    platform::ClearList(dialog, IDC_SCREEN_COLOR);
    platform::ClearList(dialog, IDC_OUTPUT);
    for (unsigned id : {unsigned(IDS_BLUE_SCREEN), unsigned(IDS_GREEN_SCREEN)}) {
        platform::LoadStringResource(module, id, text, int(sizeof text));
        platform::AddListItem(dialog, IDC_SCREEN_COLOR, text);
    }
    platform::SelectListItem(dialog, IDC_SCREEN_COLOR, p.ScreenColor);

    const unsigned last = ProbeClipboardImage(state, dialog) == 1 ? IDS_OUTPUT_LAST : IDS_OUTPUT_LAST - 1;
    for (unsigned id = IDS_OUTPUT_FIRST; id <= last; ++id) {
        platform::LoadStringResource(module, id, text, int(sizeof text));
        platform::AddListItem(dialog, IDC_OUTPUT, text);
    }
    if (p.OutputMethod > last - IDS_OUTPUT_FIRST) p.OutputMethod = 0;
    platform::SelectListItem(dialog, IDC_OUTPUT, p.OutputMethod);

    platform::SetChecked(dialog, IDC_DYNAMIC_RANGE, p.DynamicRange != 0);
    platform::SetChecked(dialog, IDC_SHOW_MATTE, p.ShowMatte != 0);
    // In the order the fields have always been filled.
    for (int edit : {IDC_FORCE_BLACK, IDC_FORCE_WHITE, IDC_GAMMA, IDC_PROTECTION, IDC_RESTORE_R, IDC_RESTORE_G,
                     IDC_RESTORE_B, IDC_CORRECTION_R, IDC_CORRECTION_G, IDC_CORRECTION_B, IDC_REMOVAL, IDC_MATTE_BLUR,
                     IDC_MATTE_CHOKE}) {
        const NumberField& f = *FieldOfEdit(edit);
        const int32_t value = f.Get(p);
        WriteNumber(dialog, f.editId, value, f.minimum < 0);
        if (f.scrollId == 0) continue;
        platform::SetScrollRange(dialog, f.scrollId, f.minimum, f.maximum, false);
        platform::SetScrollPosition(dialog, f.scrollId, value, false);
    }
    SetZoomLabel(dialog, p.PreviewZoom);
}

int32_t ApplyEditChange(WindowHandle dialog, uintptr_t first, int editId, int scrollId, int32_t minimum,
                        int32_t maximum, int32_t current, bool* changed) {
    *changed = false;
    if (HighWord(first) != platform::kNotifyEditChanged) return current;
    const bool signedNumber = minimum < 0;
    int32_t value = ReadNumber(dialog, editId, signedNumber);
    if (value < minimum || value > maximum) {
        value = std::clamp(value, minimum, maximum);
        WriteNumber(dialog, editId, value, signedNumber);
    }
    if (scrollId != 0) platform::SetScrollPosition(dialog, scrollId, value, true);
    *changed = value != current;
    return value;
}

int32_t ApplyScrollAction(WindowHandle dialog, uintptr_t first, int scrollId, int editId, int32_t minimum,
                          int32_t maximum, int32_t current) {
    int32_t value = current;
    switch (LowWord(first)) {
        case platform::kScrollLineLeft: value = current - 1; break;
        case platform::kScrollLineRight: value = current + 1; break;
        case platform::kScrollPageLeft: value = current - 16; break;
        case platform::kScrollPageRight: value = current + 16; break;
        case platform::kScrollThumbPosition:
        case platform::kScrollThumbTrack: value = int16_t(HighWord(first)); break;
        case platform::kScrollLeftEnd: value = minimum; break;
        case platform::kScrollRightEnd: value = maximum; break;
        default: break;
    }
    value = std::clamp(value, minimum, maximum);
    platform::SetScrollPosition(dialog, scrollId, value, true);
    WriteNumber(dialog, editId, value, minimum < 0);
    return value;
}

}  // namespace tav
