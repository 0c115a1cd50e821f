// The build identity: which model table and engine a build was compiled
// from (a hash of the sources of devices/ and scales/, cmake/BuildIdentity.cmake).
// The library carries it as a mark in its file (component/BuildIdentity.cpp);
// zelscales compares it with its own before it loads the library, since the
// tool prints model facts (units, commands, checks) from its own copy of the
// table while the library weighs by its copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelscales {

// The identity this zelscales was built with.
const char* ToolBuildIdentity();

// The identity in a mark within `data` ("\nZEL-BUILD-IDENTITY=" and 16
// lower-case hex digits, then '\n'); empty when `data` holds no whole mark.
std::string FindIdentityMark(std::string_view data);

struct LibraryIdentity {
    bool read = false;     // the file could be read (to its end or to the limit)
    std::string identity;  // empty: no mark in what was read
};
// The identity marked in the file at `path` (UTF-8), read `chunk` bytes at
// a time, at most `limit` bytes: a library is a few megabytes, and a device
// or a pipe named as one must not hold the tool.
LibraryIdentity ReadLibraryIdentity(const std::string& path, size_t chunk = 1 << 20,
                                    uint64_t limit = uint64_t(256) << 20);

// What stops zelscales (built with `tool`) from driving the library at
// `path` that carries `library` (empty: none), without the "--force" advice;
// empty when the two agree.
std::string IdentityProblem(const std::string& path, const std::string& library, const std::string& tool);

struct Options;

// Whether the library file at `path` may be driven: true when it is this
// tool's build or when options.force lets another through (told on stderr
// once a run); otherwise false with the refusal in `error`. Before it is
// loaded, a file that cannot be read passes unchecked (`checked` false: the
// loader then says what is wrong with it); once `loaded`, such a file
// carries no identity the tool can see.
bool AcceptLibrary(const Options& options, const std::string& path, bool loaded, bool& checked,
                   std::string& error);
// The same before a library is loaded or copied.
bool CheckLibraryBuild(const Options& options, const std::string& path, std::string& error);
// The two paths name one file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace zelscales
