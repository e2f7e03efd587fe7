#include "keyer/report.h"

#include <cstdio>
#include <map>
#include <mutex>

namespace tav::cli {
namespace {

struct Report {
    std::mutex lock;
    size_t current = 0;                     // the first item not finished
    std::map<size_t, std::string> held;     // what later items said
    std::string bar;                        // the bar's line while it is up
};

Report& TheReport() {
    static Report report;
    return report;
}

// Prints `lines` above the bar, if one is up.
void Print(Report& r, const std::string& lines) {
    if (lines.empty()) return;
    if (!r.bar.empty()) std::fprintf(stderr, "\r%*s\r", int(r.bar.size()), "");
    std::fputs(lines.c_str(), stderr);
    if (!r.bar.empty()) std::fputs(r.bar.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

void Say(size_t item, const std::string& lines) {
    Report& r = TheReport();
    std::lock_guard<std::mutex> hold(r.lock);
    if (item <= r.current || item == kAfterItems) Print(r, lines);
    else r.held[item] += lines;
}

void Finish(size_t item) {
    Report& r = TheReport();
    std::lock_guard<std::mutex> hold(r.lock);
    if (item != r.current) return;
    ++r.current;
    // The next item may have spoken already; it goes on from here.
    if (auto next = r.held.find(r.current); next != r.held.end()) {
        Print(r, next->second);
        r.held.erase(next);
    }
}

void SayNow(const std::string& lines) {
    Report& r = TheReport();
    std::lock_guard<std::mutex> hold(r.lock);
    Print(r, lines);
}

void ShowBar(const std::string& line) {
    Report& r = TheReport();
    std::lock_guard<std::mutex> hold(r.lock);
    std::fprintf(stderr, "\r%s", line.c_str());
    // A shorter line leaves the end of the longer one behind; bars of one
    // item are all of one length.
    r.bar = "\r" + line;
    std::fflush(stderr);
}

void EndBar(size_t item) {
    Report& r = TheReport();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.bar.empty()) return;
    if (item <= r.current) {
        std::fputs("\n", stderr);
    } else {
        std::fprintf(stderr, "\r%*s\r", int(r.bar.size()), "");
        r.held[item] += r.bar.substr(1) + "\n";
    }
    r.bar.clear();
}

}  // namespace tav::cli
