#include "text_buffer.h"

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}   // namespace

bool TextBuffer::Grow(size_t needed) {
    if (failed_) return false;
    if (needed <= capacity_) return true;
    size_t capacity = capacity_ ? capacity_ : 256;
    while (capacity < needed) {
        if (capacity > static_cast<size_t>(-1) / 2) {
            failed_ = true;
            return false;
        }
        capacity *= 2;
    }
    char* grown = new char[capacity];
    if (!grown) {
        failed_ = true;
        return false;
    }
    for (size_t i = 0; i < size_; ++i) grown[i] = data_[i];
    delete[] data_;
    data_ = grown;
    capacity_ = capacity;
    return true;
}

char* TextBuffer::Reserve(size_t count) {
    if (count > static_cast<size_t>(-1) - size_ || !Grow(size_ + count)) {
        failed_ = true;
        return nullptr;
    }
    return data_ + size_;
}

bool TextBuffer::Append(const char* bytes, size_t count) {
    if (count == 0) return !failed_;
    char* to = Reserve(count);
    if (!to) return false;
    for (size_t i = 0; i < count; ++i) to[i] = bytes[i];
    size_ += count;
    return true;
}

bool TextBuffer::Append(const char* text) {
    size_t count = 0;
    while (text[count]) ++count;
    return Append(text, count);
}

bool TextBuffer::AppendPadding(size_t count, size_t width, size_t minimum) {
    size_t blanks = count < width ? width - count : 0;
    if (blanks < minimum) blanks = minimum;
    while (blanks--) {
        if (!AppendChar(' ')) return false;
    }
    return !failed_;
}

bool TextBuffer::AppendNumber(unsigned long value) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (count) {
        if (!AppendChar(digits[--count])) return false;
    }
    return true;
}

bool EqualNoCase(const char* a, const char* b) {
    return CompareNoCase(a, b) == 0;
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(Upper(*a));
        unsigned char y = static_cast<unsigned char>(Upper(*b));
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}
