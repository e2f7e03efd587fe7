/* The string table: the one list of the plug-in's user-visible texts, used
   by the Windows resource script and by the built-in table of other
   platforms. Kept to what the resource compiler's preprocessor accepts. */
#ifndef TAVRISK_STRINGS_H
#define TAVRISK_STRINGS_H

#define IDS_ABOUT 1
#define IDS_CAPTION 2
#define IDS_BLUE_SCREEN 200
#define IDS_GREEN_SCREEN 201
#define IDS_NEWER_VERSION 205
#define IDS_OUTPUT_FIRST 206
#define IDS_OUTPUT_LAST 211
#define IDS_SAVE_FAILED 212
#define IDS_NEEDS_RGB 16997
#define IDS_NEEDS_ADVANCE_STATE 16998
#define IDS_NEEDS_HOST 16999

#define TAVRISK_STRING_TABLE(X)                                                          \
    X(IDS_ABOUT,                                                                         \
      "Tavrisk 1.0 - blue and green screen keyer.\n\n"                                   \
      "Pulls a subject off a blue or green backing screen: matte, screen colour "        \
      "removal and six outputs.\n\nCopyright 2026 Brackwater Works.")                   \
    X(IDS_CAPTION, "Tavrisk Filter")                                                     \
    X(IDS_BLUE_SCREEN, "Blue Screen")                                                    \
    X(IDS_GREEN_SCREEN, "Green Screen")                                                  \
    X(IDS_NEWER_VERSION,                                                                 \
      "This file contains settings for a newer version of Tavrisk.  Only those that "   \
      "apply to this version will be read.")                                             \
    X(206, "Foreground & Transparency")                                                  \
    X(207, "Foreground")                                                                 \
    X(208, "Matte and Transparency")                                                     \
    X(209, "Matte Only")                                                                 \
    X(210, "Transparency Only")                                                          \
    X(211, "Background from Clipboard")                                                  \
    X(IDS_SAVE_FAILED, "The settings could not be saved to %s: %s.")                    \
    X(IDS_NEEDS_RGB, "This plug-in requires an image in RGB color mode")                 \
    X(IDS_NEEDS_ADVANCE_STATE,                                                           \
      "This plug-in requires a host that supports the advanceState callback")           \
    X(IDS_NEEDS_HOST, "This plug-in requires Adobe Photoshop 2.5.2 or later functionality")

#endif
