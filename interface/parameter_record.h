// The Parameter record's layout: every setting of the filter, kept by the
// host in its `parameters` handle between runs (the handle's data block holds
// the record; it has no header). Hosts that store and replay settings, and
// the settings files, share it.
#pragma once

#include <cstdint>

namespace tav {

enum OutputMethodValue : uint8_t {
    kOutputForegroundTransparency = 0,
    kOutputForeground = 1,
    kOutputMatteTransparency = 2,
    kOutputMatte = 3,
    kOutputTransparency = 4,
    kOutputBackground = 5,
};
constexpr int kOutputMethodCount = 6;

constexpr int kSettingsPathSize = 256;

// Field order is fixed; the record has no header.
struct ParameterRecord {
    uint16_t ShowDialog;
    uint8_t ScreenColor;
    uint8_t OutputMethod;
    uint8_t DynamicRange;
    int32_t CorrectionR;
    int32_t CorrectionG;
    int32_t CorrectionB;
    uint8_t ForceBlack;
    uint8_t ForceWhite;
    uint8_t Gamma;
    uint8_t MatteBlur;
    int32_t MatteChoke;
    uint8_t Protection;
    uint8_t RestoreR;
    uint8_t RestoreG;
    uint8_t RestoreB;
    uint8_t BlueRemoval;
    uint8_t ShowMatte;
    int8_t PreviewZoom;
    int8_t FitZoom;
    char SettingsPath[kSettingsPathSize];
};

// Writes the defaults into a zero-filled record.
inline void SetParameterDefaults(ParameterRecord* parameters) {
    parameters->ShowDialog = 1;
    parameters->ScreenColor = 0;
    parameters->OutputMethod = kOutputForegroundTransparency;
    parameters->DynamicRange = 1;
    parameters->BlueRemoval = 255;
    parameters->PreviewZoom = 1;
}

}  // namespace tav
