// The Windows library in a folder whose name the ANSI code page cannot hold,
// as a Cyrillic or Kazakh user's profile: loaded by its UTF-16 path, it must
// find its settings.ini and log.txt there and write its traffic logs there,
// and the host program's settings.ini beside it must set the general log.
//
// scripts/windows-test.sh copies this program and the library into such a
// folder and runs it from there under an English ANSI code page (1252).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/Component.h"
#include "platform/files.h"
#include "platform/sys.h"
#include "platform/win32/paths_win32.h"
#include "tests/skip_or_fail.h"

using zel::host::Component;
using zel::host::FromUtf8;
using zel::host::ToUtf8;
using zel::host::Value;
namespace fs = std::filesystem;

namespace {

const char16_t kFolderName[] = u"Пользователь Әлия Ұңғқ";

void Write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << ToUtf8(path.u16string());
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WindowsUnicodePath, PathsReachTheSystemAsUtf16) {
    struct Case {
        std::string path;
        bool ok;
        std::u16string wide;
    };
    const Case cases[] = {
        {"C:\\zel\\settings.ini", true, u"C:\\zel\\settings.ini"},
        {ToUtf8(u"C:\\zel\\") + ToUtf8(kFolderName) + "\\log.txt", true,
         std::u16string(u"C:\\zel\\") + kFolderName + u"\\log.txt"},
        // Not UTF-8: an 8-bit path from an older caller, in the ANSI code page.
        {"C:\\caf\xE9", true, u"C:\\caf" + platform::AnsiToWide("\xE9")},
        {"", false, u""},
        {std::string("C:\\a\0b", 6), false, u""},
    };
    for (const Case& c : cases) {
        std::wstring wide;
        EXPECT_EQ(platform::WidePath(c.path, &wide), c.ok) << c.path;
        EXPECT_EQ(std::u16string(wide.begin(), wide.end()), c.wide) << c.path;
        if (!c.ok) continue;
        std::wstring again;  // and back through UTF-8
        EXPECT_TRUE(platform::WidePath(platform::NarrowPath(wide.data(), wide.size()), &again));
        EXPECT_EQ(again, wide) << c.path;
    }
}

TEST(WindowsUnicodePath, LibraryInAFolderBeyondTheAnsiCodePage) {
    // The script starts the program in its own folder.
    const fs::path here = fs::current_path();
    const std::u16string folder = kFolderName;
    if (here.filename().u16string() != folder) {
        ZEL_SKIP_OR_FAIL("not run from a folder named " << ToUtf8(folder));
    }
    // Only meaningful where the 8-bit calls would miss the folder.
    if (platform::AnsiToWide(platform::WideToAnsi(folder.data(), folder.size()).c_str()) == folder) {
        ZEL_SKIP_OR_FAIL("the ANSI code page holds the folder's name; run under an English one");
    }
    const std::string dir = ToUtf8(here.u16string());
    EXPECT_EQ(platform::ExecutableDirectory(), dir);
    EXPECT_TRUE(platform::FileExists(dir + "\\ZelvatScalesNativeDriver.dll"));
    ASSERT_TRUE(fs::exists(here / "ZelvatScalesNativeDriver.dll"));

    // Device 7 the emulator; device 9 a TCP scale on a closed port, whose
    // failed open goes to its traffic log. LOG_MODE=0 is read by the library
    // from the host program's settings.ini, the same file here.
    for (const char* stale : {"log_scales_7.log", "log_scales_9.log"}) fs::remove(here / stale);
    Write(here / "log.txt", "");
    Write(here / "settings.ini",
          "[GLOBAL]\r\nLOG_MODE=0\r\n"
          "[SCALES0]\r\nfNum=7\r\nfType=20\r\nfComPortName=COM1\r\n"
          "[SCALES1]\r\nfNum=9\r\nfType=13\r\nfIsComPort=0\r\nfHost=127.0.0.1\r\nfTCPPort=1\r\n");
    const fs::path generalLog = platform::FileExists("C:\\Quelvor\\v4.0.2") ? "C:\\Quelvor\\v4.0.2\\zel.log" : "";
    if (!generalLog.empty()) fs::remove(generalLog);

    {
        Component driver(dir + "\\ZelvatScalesNativeDriver.dll");  // Init reads settings.ini
        bool ok = false;
        int32_t code = 0;
        for (int attempt = 0; attempt < 5 && !ok && code != 8; ++attempt) {  // the emulator skips one reading in ten
            auto r = driver.Call(u"GetWeight", {Value::Text(u"7"), Value()});
            ok = r.ok && r.ret.boolean;
            code = driver.LastError();
        }
        EXPECT_TRUE(ok) << "device 7 of settings.ini: error " << code;
        auto r = driver.Call(u"GetWeight", {Value::Text(u"9"), Value()});
        EXPECT_FALSE(r.ok && r.ret.boolean);
        EXPECT_NE(driver.LastError(), 8) << "device 9 of settings.ini not configured";
        driver.Call(u"GetWeight", {Value::Text(u"5"), Value()});
        EXPECT_EQ(driver.LastError(), 8) << "a number settings.ini does not have";
    }
    // "ERROR_OPEN", as logged bytes.
    EXPECT_NE(ReadAll(here / "log_scales_9.log").find("45 52 52 4F 52 5F 4F 50 45 4E"), std::string::npos)
        << "no traffic log beside the library";
    if (!generalLog.empty()) {
        EXPECT_FALSE(fs::exists(generalLog)) << "LOG_MODE=0 of the program's settings.ini not seen";
    } else {
        std::printf("C:\\Quelvor\\v4.0.2 missing: the general log's level is not checked\n");
    }
    for (const char* made : {"log_scales_7.log", "log_scales_9.log", "log.txt", "settings.ini"}) {
        fs::remove(here / made);
    }
}

}  // namespace
