// Running the `zelscales` tool's detect command from the detect tests, and
// reading what it printed about its time.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sys.h"

namespace detect_support {

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path.c_str(), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct ToolRun {
    std::string out, err;
    int exit = -1;
    uint64_t tookMs = 0;
};

// Runs `zelscales detect` with these arguments, its stderr through errPath.
inline ToolRun RunDetectTool(const std::string& tool, const std::string& args, const std::string& errPath) {
    ToolRun run;
    const std::string cmd = "'" + tool + "' detect " + args + " 2>'" + errPath + "'";
    const uint64_t start = platform::MonotonicMs();
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return run;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
    const int status = pclose(p);
    run.tookMs = platform::MonotonicMs() - start;
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(errPath);
    std::remove(errPath.c_str());
    return run;
}

inline int PrintedBoundSeconds(const std::string& err) {
    const size_t at = err.find("at most ");
    return at == std::string::npos ? -1 : std::atoi(err.c_str() + at + 8);
}

// The scan's own time, from its last line ("done in 10.5 s", "nothing
// answered (12.0 s)"); -1 when missing.
inline double ReportedSeconds(const std::string& err) {
    for (const char* key : {"done in ", "nothing answered ("}) {
        const size_t at = err.rfind(key);
        if (at != std::string::npos) return std::atof(err.c_str() + at + std::strlen(key));
    }
    return -1.0;
}

}  // namespace detect_support
