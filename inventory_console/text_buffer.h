// A growable byte buffer of the console program's text: output being laid out, a file read in
// whole, the pool of a row list's fields. Free of the platform: it allocates through new[], which
// in the product answers null when memory runs out (runtime/allocation.cpp, -fcheck-new). It then
// keeps what it had and says so through Ok(); every later append is refused too, so that a caller
// checks once, at the end.
#pragma once
#include <stddef.h>

class TextBuffer {
public:
    TextBuffer() = default;
    ~TextBuffer() { delete[] data_; }
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    bool Append(const char* bytes, size_t count);
    bool Append(const char* text);
    bool AppendChar(char c) { return Append(&c, 1); }
    // Blanks up to `width` characters after `count` written ones (at least `minimum`).
    bool AppendPadding(size_t count, size_t width, size_t minimum = 0);
    bool AppendNumber(unsigned long value);
    // Room for `count` more bytes, whose place Tail() gives; Commit() counts them as written.
    char* Reserve(size_t count);
    void Commit(size_t count) { size_ += count; }
    void Clear() { size_ = 0; }

    const char* data() const { return data_ ? data_ : ""; }
    size_t size() const { return size_; }
    bool Ok() const { return !failed_; }

private:
    bool Grow(size_t needed);

    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
};

// ASCII comparisons without regard to case, as Windows compares file and computer names.
bool EqualNoCase(const char* a, const char* b);
int CompareNoCase(const char* a, const char* b);
