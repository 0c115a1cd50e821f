#include "tools/identity.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "tools/commands.h"
#include "zel_build_identity.h"

namespace zelscales {

namespace {

// As component/BuildIdentity.cpp writes it.
constexpr std::string_view kMark = "\nZEL-BUILD-IDENTITY=";
constexpr size_t kDigits = 16;
constexpr size_t kWhole = kMark.size() + kDigits + 1;

bool LowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

const char* ToolBuildIdentity() { return ZEL_BUILD_IDENTITY; }

std::string FindIdentityMark(std::string_view data) {
    for (size_t at = data.find(kMark); at != std::string_view::npos; at = data.find(kMark, at + 1)) {
        if (data.size() - at < kWhole) break;
        const std::string_view digits = data.substr(at + kMark.size(), kDigits);
        bool hex = true;
        for (char c : digits) hex = hex && LowerHex(c);
        if (hex && data[at + kWhole - 1] == '\n') return std::string(digits);
    }
    return std::string();
}

LibraryIdentity ReadLibraryIdentity(const std::string& path, size_t chunk, uint64_t limit) {
    LibraryIdentity result;
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return result;
    std::ifstream in(file, std::ios::binary);
    if (!in) return result;
    if (chunk < kWhole) chunk = kWhole;
    // Each look holds the end of the last piece, so a mark across two
    // pieces is whole in one.
    std::string window;
    std::vector<char> piece(chunk);
    uint64_t total = 0;
    while (total < limit) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, limit - total));
        in.read(piece.data(), static_cast<std::streamsize>(want));
        const size_t got = static_cast<size_t>(in.gcount());
        if (got == 0) break;
        total += got;
        window.append(piece.data(), got);
        result.identity = FindIdentityMark(window);
        if (!result.identity.empty()) break;
        if (window.size() > kWhole - 1) window.erase(0, window.size() - (kWhole - 1));
    }
    result.read = !in.bad();
    if (!result.read) result.identity.clear();
    return result;
}

std::string IdentityProblem(const std::string& path, const std::string& library, const std::string& tool) {
    if (library == tool) return std::string();
    const std::string risk = ": the models it weighs and those zelscales describes may differ";
    if (library.empty())
        return "the driver library " + path + " carries no build identity (an older build, or not this driver; " +
               "this zelscales is build " + tool + ")" + risk;
    return "the driver library " + path + " is build " + library + ", this zelscales build " + tool + risk;
}

bool AcceptLibrary(const Options& options, const std::string& path, bool loaded, bool& checked,
                   std::string& error) {
    const LibraryIdentity found = ReadLibraryIdentity(path);
    checked = found.read;
    if (!found.read && !loaded) return true;
    const std::string problem = IdentityProblem(path, found.identity, ToolBuildIdentity());
    if (problem.empty()) return true;
    if (!options.force) {
        error = problem + "; --force loads it anyway";
        return false;
    }
    static bool warned = false;
    if (!warned) std::fprintf(stderr, "zelscales: warning: %s (loaded with --force)\n", problem.c_str());
    warned = true;
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool same = std::filesystem::equivalent(std::filesystem::path(std::u8string(a.begin(), a.end())),
                                                  std::filesystem::path(std::u8string(b.begin(), b.end())), ec);
    return same && !ec;
}

bool CheckLibraryBuild(const Options& options, const std::string& path, std::string& error) {
    bool checked = false;
    return AcceptLibrary(options, path, false, checked, error);
}

}  // namespace zelscales
