/* The parameters dialog's template TAVRISKPARAM: its place, style, caption,
   font and 49 controls, in the order of the template. One table for the
   Windows resource script and for the in-process dialogs of other platforms.
   Kept to what the resource compiler's preprocessor accepts. Places are
   x, y, width, height in dialog units; a combo box's height is that of its
   open list. */
#ifndef TAVRISK_PARAMETERS_DIALOG_H
#define TAVRISK_PARAMETERS_DIALOG_H

/* Styles, with the system's values. */
#define TAV_WS_POPUP 0x80000000L
#define TAV_WS_CHILD 0x40000000L
#define TAV_WS_VISIBLE 0x10000000L
#define TAV_WS_CAPTION 0x00C00000L
#define TAV_WS_BORDER 0x00800000L
#define TAV_WS_SYSMENU 0x00080000L
#define TAV_WS_TABSTOP 0x00010000L
#define TAV_DS_MODALFRAME 0x0080L
#define TAV_DS_SETFONT 0x0040L
#define TAV_BS_PUSHBUTTON 0x0000L
#define TAV_BS_DEFPUSHBUTTON 0x0001L
#define TAV_BS_AUTOCHECKBOX 0x0003L
#define TAV_BS_GROUPBOX 0x0007L
#define TAV_BS_OWNERDRAW 0x000BL
#define TAV_SS_CENTER 0x0001L
#define TAV_SS_RIGHT 0x0002L
#define TAV_SS_BLACKFRAME 0x0007L
#define TAV_SS_SUNKEN 0x1000L
#define TAV_ES_AUTOHSCROLL 0x0080L
#define TAV_CBS_DROPDOWNLIST 0x0003L
#define TAV_SBS_HORZ 0x0000L

#define TAV_DIALOG_STYLE \
    (TAV_DS_MODALFRAME | TAV_WS_POPUP | TAV_WS_VISIBLE | TAV_WS_CAPTION | TAV_WS_SYSMENU | TAV_DS_SETFONT)
#define TAV_DIALOG_X 51
#define TAV_DIALOG_Y 54
#define TAV_DIALOG_WIDTH 251
#define TAV_DIALOG_HEIGHT 215
#define TAV_DIALOG_CAPTION "Tavrisk Parameters"
#define TAV_DIALOG_FONT_SIZE 8
#define TAV_DIALOG_FONT "MS Sans Serif"

/* Control ids. */
#define IDC_SCREEN_COLOR 102
#define IDC_OUTPUT 103
#define IDC_DYNAMIC_RANGE 104
#define IDC_PICK_CORRECTION 105
#define IDC_CORRECTION_R 107
#define IDC_PICK_FORCE_BLACK 108
#define IDC_FORCE_BLACK_SCROLL 109
#define IDC_FORCE_BLACK 110
#define IDC_PICK_FORCE_WHITE 111
#define IDC_FORCE_WHITE_SCROLL 112
#define IDC_FORCE_WHITE 113
#define IDC_GAMMA_SCROLL 114
#define IDC_GAMMA 115
#define IDC_MATTE_BLUR_SCROLL 116
#define IDC_MATTE_BLUR 117
#define IDC_MATTE_CHOKE_SCROLL 118
#define IDC_MATTE_CHOKE 119
#define IDC_PROTECTION_SCROLL 120
#define IDC_PROTECTION 121
#define IDC_RESTORE_R 122
#define IDC_RESTORE_G 123
#define IDC_RESTORE_B 124
#define IDC_REMOVAL_SCROLL 125
#define IDC_REMOVAL 126
#define IDC_ZOOM_IN 128
#define IDC_ZOOM_OUT 129
#define IDC_ZOOM_LABEL 130
#define IDC_LOAD 131
#define IDC_SAVE 132
#define IDC_PREVIEW 133
#define IDC_CORRECTION_G 135
#define IDC_CORRECTION_B 136
#define IDC_SHOW_MATTE 137
#define IDC_HELP_BUTTON 100
#define IDC_ABOUT_BUTTON 101

#define TAV_EDIT_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_WS_BORDER | TAV_ES_AUTOHSCROLL | TAV_WS_TABSTOP)
#define TAV_LABEL_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_SS_RIGHT)
#define TAV_SCROLL_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_SBS_HORZ)
#define TAV_LIST_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_CBS_DROPDOWNLIST | TAV_WS_TABSTOP)
#define TAV_OWNER_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_BS_OWNERDRAW | TAV_WS_TABSTOP)
#define TAV_BUTTON_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_BS_PUSHBUTTON | TAV_WS_TABSTOP)
#define TAV_CHECK_STYLE (TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_BS_AUTOCHECKBOX | TAV_WS_TABSTOP)

/* X(text, id, class, style, x, y, width, height) for each control. */
#define TAVRISK_DIALOG_CONTROLS(X)                                                                        \
    X("", -1, "Button", TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_BS_GROUPBOX, 5, 0, 171, 209)                   \
    X("Screen Color:", -1, "Static", TAV_LABEL_STYLE, 23, 14, 50, 10)                                      \
    X("", IDC_SCREEN_COLOR, "ComboBox", TAV_LIST_STYLE, 75, 12, 94, 47)                                    \
    X("Output:", -1, "Static", TAV_LABEL_STYLE, 23, 31, 50, 10)                                            \
    X("", IDC_OUTPUT, "ComboBox", TAV_LIST_STYLE, 75, 29, 94, 74)                                          \
    X("Dynamic Range", IDC_DYNAMIC_RANGE, "Button", TAV_CHECK_STYLE, 75, 45, 66, 12)                       \
    X("", IDC_PICK_CORRECTION, "Button", TAV_OWNER_STYLE, 10, 61, 15, 14)                                  \
    X("Correction:", -1, "Static", TAV_LABEL_STYLE, 28, 63, 45, 10)                                        \
    X("", IDC_CORRECTION_R, "Edit", TAV_EDIT_STYLE, 75, 60, 20, 12)                                        \
    X("", IDC_CORRECTION_G, "Edit", TAV_EDIT_STYLE, 100, 60, 20, 12)                                       \
    X("", IDC_CORRECTION_B, "Edit", TAV_EDIT_STYLE, 125, 60, 20, 12)                                       \
    X("", IDC_PICK_FORCE_BLACK, "Button", TAV_OWNER_STYLE, 10, 77, 15, 14)                                 \
    X("Force Black:", -1, "Static", TAV_LABEL_STYLE, 28, 79, 45, 10)                                       \
    X("", IDC_FORCE_BLACK_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 77, 70, 12)                           \
    X("", IDC_FORCE_BLACK, "Edit", TAV_EDIT_STYLE, 150, 77, 20, 12)                                        \
    X("", IDC_PICK_FORCE_WHITE, "Button", TAV_OWNER_STYLE, 10, 93, 15, 14)                                 \
    X("Force White:", -1, "Static", TAV_LABEL_STYLE, 28, 95, 45, 10)                                       \
    X("", IDC_FORCE_WHITE_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 93, 70, 12)                           \
    X("", IDC_FORCE_WHITE, "Edit", TAV_EDIT_STYLE, 150, 93, 20, 12)                                        \
    X("Gamma:", -1, "Static", TAV_LABEL_STYLE, 42, 111, 31, 10)                                            \
    X("", IDC_GAMMA_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 109, 70, 12)                                \
    X("", IDC_GAMMA, "Edit", TAV_EDIT_STYLE, 150, 109, 20, 12)                                             \
    X("Matte Blur:", -1, "Static", TAV_LABEL_STYLE, 29, 127, 44, 10)                                       \
    X("", IDC_MATTE_BLUR_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 125, 70, 12)                           \
    X("", IDC_MATTE_BLUR, "Edit", TAV_EDIT_STYLE, 150, 125, 20, 12)                                        \
    X("Matte Choking:", -1, "Static", TAV_LABEL_STYLE, 12, 143, 61, 10)                                    \
    X("", IDC_MATTE_CHOKE_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 141, 70, 12)                          \
    X("", IDC_MATTE_CHOKE, "Edit", TAV_EDIT_STYLE, 150, 141, 20, 12)                                       \
    X("Protection:", -1, "Static", TAV_LABEL_STYLE, 32, 159, 41, 10)                                       \
    X("", IDC_PROTECTION_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 157, 70, 12)                           \
    X("", IDC_PROTECTION, "Edit", TAV_EDIT_STYLE, 150, 157, 20, 12)                                        \
    X("Light Color:", -1, "Static", TAV_LABEL_STYLE, 18, 175, 55, 10)                                      \
    X("", IDC_RESTORE_R, "Edit", TAV_EDIT_STYLE, 75, 173, 20, 12)                                          \
    X("", IDC_RESTORE_G, "Edit", TAV_EDIT_STYLE, 100, 173, 20, 12)                                         \
    X("", IDC_RESTORE_B, "Edit", TAV_EDIT_STYLE, 125, 173, 20, 12)                                         \
    X("Screen Removal:", -1, "Static", TAV_LABEL_STYLE, 16, 191, 57, 10)                                   \
    X("", IDC_REMOVAL_SCROLL, "ScrollBar", TAV_SCROLL_STYLE, 75, 189, 70, 12)                              \
    X("", IDC_REMOVAL, "Edit", TAV_EDIT_STYLE, 150, 189, 20, 12)                                           \
    X("", IDC_ZOOM_IN, "Button", TAV_OWNER_STYLE, 190, 196, 12, 11)                                        \
    X("", IDC_ZOOM_OUT, "Button", TAV_OWNER_STYLE, 226, 196, 12, 11)                                       \
    X("1 : 5", IDC_ZOOM_LABEL, "Static", TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_SS_CENTER, 204, 198, 20, 8)   \
    X("Load...", IDC_LOAD, "Button", TAV_BUTTON_STYLE, 180, 42, 65, 14)                                    \
    X("Save...", IDC_SAVE, "Button", TAV_BUTTON_STYLE, 180, 58, 65, 14)                                    \
    X("Help", IDC_HELP_BUTTON, "Button", TAV_BUTTON_STYLE, 180, 78, 65, 14)                                       \
    X("About...", IDC_ABOUT_BUTTON, "Button", TAV_BUTTON_STYLE, 180, 94, 65, 14)                                  \
    X("OK", 1, "Button", TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_BS_DEFPUSHBUTTON | TAV_WS_TABSTOP, 180, 6, 65, 14) \
    X("Cancel", 2, "Button", TAV_BUTTON_STYLE, 180, 22, 65, 14)                                            \
    X("", IDC_PREVIEW, "Static", TAV_WS_CHILD | TAV_WS_VISIBLE | TAV_SS_BLACKFRAME | TAV_SS_SUNKEN, 180, 126, 67, 65) \
    X("Show Matte", IDC_SHOW_MATTE, "Button", TAV_CHECK_STYLE, 187, 114, 57, 10)

#endif
