#include "tools/identity.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace zelscales;

namespace {

const std::string kMark = "\nZEL-BUILD-IDENTITY=";

TEST(BuildIdentity, MarkInBytes) {
    struct Case {
        std::string data;
        const char* identity;
    };
    const std::string id = "0123456789abcdef";
    const Case cases[] = {
        {kMark + id + "\n", "0123456789abcdef"},
        {std::string("\x7f" "ELF\0\0", 6) + kMark + id + "\n" + std::string(3, '\0'), "0123456789abcdef"},
        {"", ""},
        {kMark, ""},
        {kMark + id, ""},                                   // cut before its end
        {kMark + "0123456789ABCDEF\n", ""},                 // upper case is no identity
        {kMark + "0123456789abcde\n", ""},                  // a digit short
        {kMark + "0123456789abcdef0\n", ""},                // a digit too many
        {kMark + "0123456789abcdeg\n", ""},
        {"ZEL-BUILD-IDENTITY=" + id + "\n", ""},            // not after a line end
        // A broken mark does not hide a whole one after it.
        {kMark + "xyz\n" + kMark + "fedcba9876543210\n", "fedcba9876543210"},
        // The first whole mark counts.
        {kMark + id + "\n" + kMark + "fedcba9876543210\n", "0123456789abcdef"},
    };
    for (const Case& c : cases) EXPECT_EQ(FindIdentityMark(c.data), c.identity) << c.data;
}

class IdentityFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("zel-identity-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content) {
        const std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::filesystem::path dir_;
};

TEST_F(IdentityFile, FoundAcrossPieces) {
    const std::string id = "00ff00ff00ff00ff";
    const std::string whole = kMark + id + "\n";
    // The mark at every offset around the boundaries of 64-byte pieces.
    for (size_t before = 0; before < 200; before += 7) {
        const std::string path = Write("lib.so", std::string(before, 'x') + whole + std::string(50, '\0'));
        const LibraryIdentity found = ReadLibraryIdentity(path, 64);
        EXPECT_TRUE(found.read);
        EXPECT_EQ(found.identity, id) << "after " << before << " bytes";
    }
}

TEST_F(IdentityFile, LimitsAndFaults) {
    const std::string id = "1111222233334444";
    const std::string late = Write("late.so", std::string(5000, 'x') + kMark + id + "\n");
    EXPECT_EQ(ReadLibraryIdentity(late, 256).identity, id);
    // Beyond the limit nothing is read: no identity, yet read.
    const LibraryIdentity cut = ReadLibraryIdentity(late, 256, 4096);
    EXPECT_TRUE(cut.read);
    EXPECT_EQ(cut.identity, "");
    const LibraryIdentity none = ReadLibraryIdentity(Write("none.so", std::string(3000, 'y')), 100);
    EXPECT_TRUE(none.read);
    EXPECT_EQ(none.identity, "");
    // A missing file and a folder are not read: the loader tells why.
    EXPECT_FALSE(ReadLibraryIdentity((dir_ / "absent.so").string()).read);
    EXPECT_FALSE(ReadLibraryIdentity(dir_.string()).read);
}

}  // namespace
