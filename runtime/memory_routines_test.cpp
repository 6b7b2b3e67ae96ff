// The C library routines that Brantovix.dll links in place of a C runtime library. This program
// links them too (and is compiled -fno-builtin), so every call below reaches them, not the C
// runtime DLL's.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>

#include <string>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOP";

TEST(MemoryRoutines, AreTheDllsOwnNotTheCRuntimes) {
    HMODULE runtime = LoadLibraryA("msvcrt.dll");
    ASSERT_NE(nullptr, runtime);
    const char* names[] = {"memcpy", "memmove", "memset", "memcmp", "memchr", "strlen", "wcslen"};
    void* own[] = {reinterpret_cast<void*>(&memcpy), reinterpret_cast<void*>(&memmove),
                   reinterpret_cast<void*>(&memset), reinterpret_cast<void*>(&memcmp),
                   reinterpret_cast<void*>(&memchr), reinterpret_cast<void*>(&strlen),
                   reinterpret_cast<void*>(&wcslen)};
    for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(runtime, names[i])), own[i]) << names[i];
    }
    FreeLibrary(runtime);
}

TEST(MemoryRoutines, CopyAndMoveTouchExactlyTheirBytes) {
    char buffer[17];
    memcpy(buffer, kAlphabet, sizeof(buffer));
    EXPECT_EQ(buffer + 1, memcpy(buffer + 1, "xyz", 3));
    EXPECT_STREQ("AxyzEFGHIJKLMNOP", buffer);
    memcpy(buffer, "--", 0);
    EXPECT_EQ('A', buffer[0]);
}

TEST(MemoryRoutines, MoveCopiesOverlappingRangesAsIfThroughATemporary) {
    struct Case {
        size_t to;
        size_t from;
        size_t count;
        const char* expected;
    } const cases[] = {
        {2, 0, 6, "ABABCDEFIJKLMNOP"},   // destination above the source: copied from the end
        {0, 2, 6, "CDEFGHGHIJKLMNOP"},   // destination below: copied from the start
        {3, 3, 5, "ABCDEFGHIJKLMNOP"},   // onto itself
        {1, 9, 4, "AJKLMFGHIJKLMNOP"},   // apart
        {5, 0, 0, "ABCDEFGHIJKLMNOP"},   // nothing
    };
    for (const Case& c : cases) {
        char buffer[17];
        memcpy(buffer, kAlphabet, sizeof(buffer));
        EXPECT_EQ(buffer + c.to, memmove(buffer + c.to, buffer + c.from, c.count));
        EXPECT_STREQ(c.expected, buffer) << c.to << " <- " << c.from << ", " << c.count;
    }
}

TEST(MemoryRoutines, SetWritesTheValueAsAnUnsignedChar) {
    unsigned char buffer[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(buffer + 1, memset(buffer + 1, 0x1FE, 3));
    const unsigned char expected[6] = {1, 0xFE, 0xFE, 0xFE, 5, 6};
    EXPECT_EQ(0, std::string(reinterpret_cast<char*>(buffer), 6)
                     .compare(std::string(reinterpret_cast<const char*>(expected), 6)));
}

TEST(MemoryRoutines, CompareOrdersBytesAsUnsignedChars) {
    struct Case {
        const char* first;
        const char* second;
        size_t count;
        int sign;
    } const cases[] = {
        {"abc", "abc", 3, 0},    {"abc", "abd", 3, -1},
        {"abd", "abc", 3, 1},    {"\x80", "\x01", 1, 1},   // 0x80 is above 0x01, though negative as a signed char
        {"\x01", "\xFF", 1, -1}, {"abX", "abY", 2, 0},     // the difference lies past the count
        {"x", "y", 0, 0},
    };
    for (const Case& c : cases) {
        int result = memcmp(c.first, c.second, c.count);
        EXPECT_EQ(c.sign, (result > 0) - (result < 0)) << c.first << " / " << c.second << ", " << c.count;
    }
}

TEST(MemoryRoutines, FindsTheFirstByteWithinTheCount) {
    const char text[] =
        "abc\xE9"
        "abc\xE9";
    EXPECT_EQ(text + 1, memchr(text, 'b', 8));
    EXPECT_EQ(text + 3, memchr(text, static_cast<char>(0xE9), 8));   // a negative char finds its byte
    EXPECT_EQ(text + 2, memchr(text, 0x163, 8));                     // the value as an unsigned char: 'c'
    EXPECT_EQ(nullptr, memchr(text, 'c', 2));
    EXPECT_EQ(text + 8, memchr(text, 0, 9));
    EXPECT_EQ(nullptr, memchr(text, 'a', 0));
}

TEST(MemoryRoutines, LengthsCountUpToTheTerminator) {
    EXPECT_EQ(0u, strlen(""));
    EXPECT_EQ(16u, strlen(kAlphabet));
    EXPECT_EQ(3u, strlen("ab\xE9\0cd"));
    EXPECT_EQ(0u, wcslen(L""));
    EXPECT_EQ(5u, wcslen(L"ORV_D"));
    EXPECT_EQ(2u, wcslen(L"\xFFFF\x8000\0x"));
}

}   // namespace
