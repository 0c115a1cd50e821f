#include "tools/trace.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "host/Component.h"
#include "platform/sys.h"
#include "tools/text.h"

namespace fs = std::filesystem;

namespace zelscales {

namespace {

constexpr size_t kRowBytes = 20;
constexpr size_t kIndent = 22;  // "11:02:17.097 received "
constexpr unsigned kFollowMs = 50;

// "HH:MM:SS.mmm" of the log's "YYYY-MM-DD HH:MM:SS.mmm"; as it is otherwise.
std::string ClockOf(const std::string& time) {
    return time.size() == 23 && time[10] == ' ' ? time.substr(11) : time;
}

std::string Padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// Paths are UTF-8 texts in the tool, as in the platform layer.
fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool IsTrafficLog(const fs::path& path) {
    const std::string name = Utf8Of(path.filename());
    return name.size() >= 15 && name.compare(0, 11, "log_scales_") == 0 &&
           name.compare(name.size() - 4, 4, ".log") == 0;
}

}  // namespace

std::string LineSettingsOf(const std::string& line) {
    if (line.compare(0, 8, "COMPORT:") != 0) return std::string();
    const size_t semi = line.rfind(';', line.find(','));
    if (semi == std::string::npos) return std::string();
    // "9600\Even\8\1"
    std::vector<std::string> parts(1);
    for (size_t i = semi + 1; i < line.size() && line[i] != ','; ++i) {
        if (line[i] == '\\') parts.emplace_back();
        else parts.back() += line[i];
    }
    if (parts.size() != 4 || parts[0].empty() || parts[1].empty()) return std::string();
    const std::string stop = parts[3] == "1.5" ? "1.5" : parts[3];
    return parts[0] + " " + parts[2] + parts[1].substr(0, 1) + stop;
}

std::string LineSettingsNotes::Note(const TrafficBlock& b) {
    const std::string settings = LineSettingsOf(b.line);
    if (b.direction == "open" || b.direction == "open failed") {
        shown_ = settings;
        afterOpen_ = true;
        return std::string();
    }
    const bool afterOpen = afterOpen_;
    afterOpen_ = false;
    if (settings.empty() || settings == shown_) return std::string();
    const bool first = shown_.empty();
    shown_ = settings;
    if (first) return settings;
    return settings + (afterOpen ? " (the open above was logged at the port's defaults, before the switch)"
                                 : " (the line was switched)");
}

std::string FormatTraceBlock(const TrafficBlock& b) {
    const std::string clock = Padded(ClockOf(b.time), 12) + " ";
    const bool event = b.direction == "open" || b.direction == "close" || b.direction == "open failed" ||
                       b.direction == "settings";
    if (event) {
        if (b.direction == "close" || b.line.empty()) return clock + b.direction + "\n";
        return clock + Padded(b.direction, 8) + " " + b.line + "\n";
    }
    if (b.bytes.empty()) return clock + b.direction + "\n";
    const std::string head = clock + Padded(b.direction, 8);
    std::string out;
    const bool rows = b.bytes.size() > kRowBytes;
    for (size_t at = 0; at < b.bytes.size(); at += kRowBytes) {
        const std::vector<uint8_t> row(b.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                       b.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(b.bytes.size(), at + kRowBytes)));
        out += at == 0 ? head : std::string(kIndent - 1, ' ');
        // Rows under one another keep their text columns aligned.
        out += ' ';
        out += rows ? Padded(HexOf(row), kRowBytes * 3 - 1) : HexOf(row);
        out += "  |";
        out += TextOf(row);
        out += "|\n";
    }
    return out;
}

TrafficBlock TraceBlockNow(const char* direction, const void* data, size_t size, const std::string& line) {
    const platform::LocalTime t = platform::Now();
    char time[32];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year % 10000, t.month % 100, t.day % 100,
                  t.hour % 100, t.minute % 100, t.second % 100, t.millisecond % 1000);
    TrafficBlock b;
    b.direction = direction;
    b.time = time;
    b.line = line;
    const auto* p = static_cast<const uint8_t*>(data);
    if (p) b.bytes.assign(p, p + size);
    b.declared = static_cast<int>(b.bytes.size());
    return b;
}

void PrintTraceBlock(const TrafficBlock& block) {
    const std::string text = FormatTraceBlock(block);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

bool TrafficLogOn(const Options& options) {
    const fs::path library = PathOf(options.library.empty() ? zel::host::DefaultLibraryPath() : options.library);
    std::error_code ec;
    return fs::exists(library.parent_path() / "log.txt", ec);
}

bool TraceSession::Start(Options& options, std::string& error, bool print) {
    const fs::path library = PathOf(options.library.empty() ? zel::host::DefaultLibraryPath() : options.library);
    std::error_code ec;
    if (!fs::is_regular_file(library, ec)) {
        error = "cannot load the driver library " + Utf8Of(library) + (fs::exists(library, ec) ? ": not a file" : ": no such file");
        return false;
    }
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        error = "--trace: no temporary folder: " + ec.message();
        return false;
    }
    // A new folder of a random name: one that exists (another run's, or
    // anyone's) is never taken over.
    for (int attempt = 0; attempt < 16 && folder_.empty(); ++attempt) {
        uint8_t random[6] = {};
        if (!platform::RandomBytes(random, sizeof random)) break;
        const fs::path path = temp / ("zelscales-trace-" + text::CompactHexOf(random, sizeof random));
        if (fs::create_directory(path, ec) && !ec) folder_ = path;
    }
    if (folder_.empty()) {
        error = "--trace: cannot create a folder in " + Utf8Of(temp) + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace, ec);
    const fs::path copy = folder_ / library.filename();
    const fs::path settings = library.parent_path() / "settings.ini";
    bool ok = fs::copy_file(library, copy, ec) && !ec;
    if (ok && fs::is_regular_file(settings, ec)) ok = fs::copy_file(settings, folder_ / "settings.ini", ec) && !ec;
    if (ok) ok = static_cast<bool>(std::ofstream(folder_ / "log.txt") << "\n");
    if (!ok) {
        error = "--trace: cannot copy the driver library into " + Utf8Of(folder_) +
                (ec ? ": " + ec.message() : std::string());
        Stop();
        return false;
    }
    options.library = Utf8Of(copy);
    if (!print) return true;
    std::fprintf(stderr, "trace: %s, a copy of %s\n", Utf8Of(copy).c_str(), Utf8Of(library).c_str());
    std::fflush(stderr);
    stopping_ = false;
    follower_ = std::thread(&TraceSession::Follow, this);
    return true;
}

void TraceSession::Stop() {
    if (follower_.joinable()) {
        stopping_ = true;
        follower_.join();
        Poll(true);
    }
    logs_.clear();
    notes_.clear();
    if (folder_.empty()) return;
    std::error_code ec;
    fs::remove_all(folder_, ec);
    if (ec || fs::exists(folder_, ec))
        std::fprintf(stderr, "trace: cannot remove %s: %s\n", Utf8Of(folder_).c_str(), ec.message().c_str());
    folder_.clear();
}

// Plain sleeps: a timed wait on a condition variable would need a newer C
// library than the tool runs with.
void TraceSession::Follow() {
    while (!stopping_) {
        Poll(false);
        platform::SleepMs(kFollowMs);
    }
}

// Reads what the folder's logs gained since the last look and prints the
// blocks completed; `last`: the driver is gone, every log is whole.
void TraceSession::Poll(bool last) {
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        if (!IsTrafficLog(it->path())) continue;
        bool known = false;
        for (const auto& log : logs_) known = known || log->Path() == it->path();
        if (!known) {
            logs_.push_back(std::make_unique<TrafficLogFollower>(it->path(), false));
            notes_.emplace_back();
        }
    }
    for (size_t i = 0; i < logs_.size(); ++i) {
        const auto& log = logs_[i];
        const std::vector<TrafficBlock> blocks = log->Take(last);
        if (blocks.empty()) continue;
        // With more than one device logging, say whose lines follow.
        std::string text;
        const std::string name = Utf8Of(log->Path().filename());
        if (logs_.size() > 1 && name != lastLog_) text += "trace: " + name + "\n";
        lastLog_ = name;
        for (const TrafficBlock& b : blocks) {
            // The settings in effect where they are not those of the open shown.
            const std::string note = notes_[i].Note(b);
            if (!note.empty()) {
                TrafficBlock settings = b;
                settings.direction = "settings";
                settings.line = note;
                text += FormatTraceBlock(settings);
            }
            text += FormatTraceBlock(b);
        }
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }
}

}  // namespace zelscales
