// winhost: loads tavrsk.8bf as a Windows host does (LoadLibrary, the PiPL
// resource, the entry named by its architecture's property), then drives it
// through the selectors and checks the answers. Message boxes are closed by
// a hook in this process as soon as they appear, and recorded.
//
// Usage: winhost PLUGIN.8bf
//          prints one line per check and "N passed, M failed"; exits 0 when
//          all pass.
//        winhost PLUGIN.8bf --key IN.rgba WIDTH HEIGHT OUT.rgba [KEY=VALUE...]
//          keys a raw 8-bit RGBA image the way a host repeats the last filter
//          (parameters, the settings applied with the dialog off, prepare,
//          start, continue, finish) and writes the layer back as raw RGBA.
//        winhost PLUGIN.8bf --dialog IN.rgba WIDTH HEIGHT OUT.rgba SETTINGS SHOT.ppm
//        winhost PLUGIN.8bf --dialog-cancel IN.rgba WIDTH HEIGHT
//          a host's first run with the parameters dialog, worked by a script
//          of user input (tools/winhost/dialog_run.h).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "interface/parameter_record.h"
#include "hosts/inprocess/pipl.h"
#include "ui/settings_format.h"
#include "hosts/inprocess/inprocess_host.h"
#include "tools/winhost/dialog_run.h"

using namespace tav;
using namespace tav::inprocess;

namespace {

struct CapturedBox {
    std::string caption;
    std::string text;
};

std::vector<CapturedBox> g_boxes;
HHOOK g_hook = nullptr;

// Every message box opened on this thread is read and closed at once.
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[64] = {};
        GetClassNameA(window, className, sizeof className);
        char title[64] = {};
        GetWindowTextA(window, title, sizeof title);
        // Message boxes are closed; the parameters dialog is left to its script.
        if (std::strcmp(className, "#32770") == 0 && std::strcmp(title, "Tavrisk Parameters") != 0) {
            char caption[512] = {};
            char text[1024] = {};
            GetWindowTextA(window, caption, sizeof caption);
            GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
            g_boxes.push_back({caption, text});
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    (ok ? g_passed : g_failed)++;
}

std::vector<uint8_t> ResourceBytes(HMODULE module) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(16000), "PiPL");
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    DWORD size = SizeofResource(module, found);
    if (bytes == nullptr) return {};
    return std::vector<uint8_t>(bytes, bytes + size);
}

std::vector<uint8_t> Gradient(int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = 255;
        }
    return pixels;
}

// The repeated-filter path on a raw RGBA image, as the command-line keyer
// runs it: a layer with transparency, no selection.
int KeyRawImage(EntryPoint entry, int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: winhost PLUGIN.8bf --key IN.rgba WIDTH HEIGHT OUT.rgba [KEY=VALUE...]\n");
        return 2;
    }
    const int width = std::atoi(argv[4]), height = std::atoi(argv[5]);
    std::ifstream in(argv[3], std::ios::binary);
    std::vector<uint8_t> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (width <= 0 || height <= 0 || pixels.size() != size_t(width) * height * 4) {
        std::fprintf(stderr, "winhost: %s does not hold %d x %d RGBA pixels\n", argv[3], width, height);
        return 1;
    }
    InProcessHost host(entry);
    host.SetImage(width, height, 4, std::move(pixels));
    host.SetFilterCase(filterCaseEditableTransparencyNoSelection);
    int16_t result = host.Call(filterSelectorParameters);
    if (result != 0) {
        std::fprintf(stderr, "winhost: parameters selector failed: %d\n", result);
        return 1;
    }
    auto* record = static_cast<ParameterRecord*>(*reinterpret_cast<void**>(host.record().parameters));
    for (int i = 7; i < argc; ++i) {
        std::string setting = argv[i];
        size_t eq = setting.find('=');
        int64_t stored = 0;
        if (eq == std::string::npos ||
            ApplySettingsValue(record, setting.substr(0, eq), std::atoll(setting.c_str() + eq + 1), &stored) ==
                SettingsKeyResult::Unknown) {
            std::fprintf(stderr, "winhost: bad setting '%s'\n", argv[i]);
            return 2;
        }
    }
    record->ShowDialog = 0;
    result = host.RunFilter(false);
    if (result != 0) {
        std::fprintf(stderr, "winhost: the run failed: %d\n", result);
        return 1;
    }
    std::ofstream out(argv[6], std::ios::binary);
    out.write(reinterpret_cast<const char*>(host.image().data()), std::streamsize(host.image().size()));
    if (!out) {
        std::fprintf(stderr, "winhost: cannot write %s\n", argv[6]);
        return 1;
    }
    std::printf("keyed %d x %d into %s\n", width, height, argv[6]);
    return 0;
}

}  // namespace

// Reads a raw RGBA image of width x height pixels.
bool ReadRaw(const char* path, int width, int height, std::vector<uint8_t>* pixels) {
    std::ifstream in(path, std::ios::binary);
    pixels->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return width > 0 && height > 0 && pixels->size() == size_t(width) * height * 4;
}

int main(int argc, char** argv) {
    const bool keyMode = argc >= 3 && std::strcmp(argv[2], "--key") == 0;
    const bool dialogMode = argc == 9 && std::strcmp(argv[2], "--dialog") == 0;
    const bool cancelMode = argc == 6 && std::strcmp(argv[2], "--dialog-cancel") == 0;
    if (argc != 2 && !keyMode && !dialogMode && !cancelMode) {
        std::fprintf(stderr, "usage: winhost PLUGIN.8bf [--key IN.rgba WIDTH HEIGHT OUT.rgba [KEY=VALUE...]]\n");
        return 2;
    }
    g_hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    Check(g_hook != nullptr, "message box hook installed");

    HMODULE module = LoadLibraryA(argv[1]);
    Check(module != nullptr, std::string("LoadLibrary ") + argv[1]);
    if (module == nullptr) return 1;

    const bool x64 = sizeof(void*) == 8;
    std::string error;
    auto pipl = ParsePiPL(ResourceBytes(module), &error);
    Check(pipl.has_value(), "PiPL 16000 found and parsed " + error);
    if (!pipl) return 1;
    std::vector<std::string> problems = CheckFilterPiPL(*pipl, x64);
    for (const std::string& problem : problems) Check(false, "PiPL: " + problem);
    Check(problems.empty(), "PiPL accepted (kind, vers, mode, fici, name, catg, entry)");

    const PiPLProperty* entryProperty = pipl->Find(FourCC(x64 ? "8664" : "wx86"));
    std::string entryName = entryProperty ? EntryName(*entryProperty) : "";
    auto entry = reinterpret_cast<EntryPoint>(
        reinterpret_cast<void*>(GetProcAddress(module, entryName.c_str())));
    Check(entry != nullptr, "entry point '" + entryName + "' exported");
    if (entry == nullptr) return 1;
    if (keyMode) return KeyRawImage(entry, argc, argv);
    if (dialogMode || cancelMode) {
        std::vector<uint8_t> pixels;
        const int width = std::atoi(argv[4]), height = std::atoi(argv[5]);
        if (!ReadRaw(argv[3], width, height, &pixels)) {
            std::fprintf(stderr, "winhost: %s does not hold %d x %d RGBA pixels\n", argv[3], width, height);
            return 1;
        }
        return winhost::RunDialog(entry, pixels, width, height, cancelMode, dialogMode ? argv[6] : nullptr,
                                  dialogMode ? argv[7] : nullptr, dialogMode ? argv[8] : nullptr);
    }

    InProcessHost host(entry);
    host.SetImage(100, 100, 3, Gradient(100, 100));

    int16_t result = host.CallAbout();
    Check(result == 0, "about: result 0");
    Check(host.dataWord() != 0, "about: the data word holds the state block");
    Check(g_boxes.size() == 1 && g_boxes[0].caption == "Tavrisk Filter" &&
              g_boxes[0].text.rfind("Tavrisk", 0) == 0,
          "about: one message box captioned \"Tavrisk Filter\"");

    result = host.Call(filterSelectorParameters);
    Check(result == 0, "parameters: result 0");
    auto** parameters = reinterpret_cast<void**>(host.record().parameters);
    Check(parameters != nullptr && *parameters != nullptr, "parameters: handle created");
    if (parameters != nullptr) {
        uint32_t tag = 0;
        std::memcpy(&tag, reinterpret_cast<const char*>(parameters) + sizeof(void*), 4);
        Check(tag == FourCC("FOTO"), "parameters: handle tagged FOTO");
        const auto* record = static_cast<const uint8_t*>(*parameters);
        Check(record[0] == 1 && record[1] == 0, "parameters: ShowDialog 1");
    }

    result = host.Call(filterSelectorPrepare);
    Check(result == 0 && host.record().bufferSpace == 80000, "prepare 100 x 100: bufferSpace 80000");
    host.SetImage(600, 600, 3, {});
    result = host.Call(filterSelectorPrepare);
    Check(result == 0 && host.record().bufferSpace == 720000, "prepare 600 x 600: bufferSpace 720000");

    host.record().inRect = Rect{0, 0, 64, 64};
    host.record().outRect = Rect{0, 0, 64, 64};
    result = host.Call(filterSelectorContinue);
    const Rect& in = host.record().inRect;
    const Rect& out = host.record().outRect;
    Check(result == 0 && in.top == 0 && in.left == 0 && in.bottom == 0 && in.right == 0 &&
              out.top == 0 && out.left == 0 && out.bottom == 0 && out.right == 0,
          "continue: inRect and outRect emptied");

    result = host.Call(6);
    Check(result == -30100, "selector 6: filterBadParameters");

    g_boxes.clear();
    host.quirks.noAdvanceState = true;
    result = host.Call(filterSelectorStart);
    host.quirks.noAdvanceState = false;
    Check(result == 1 && g_boxes.size() == 1 && g_boxes[0].caption == "Tavrisk Filter",
          "start without advanceState: one message box, result 1");

    result = host.Call(filterSelectorFinish);
    Check(result == 0, "finish: result 0");

    UnhookWindowsHookEx(g_hook);
    FreeLibrary(module);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
