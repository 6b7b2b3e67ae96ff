// The rows the console program prints, writes, reads back, compares and merges: one row per
// listed driver file, with the computer it was found on. Free of the platform.
#pragma once
#include <stddef.h>

#include "text_buffer.h"

enum RowField { kComputer = 0, kFileName = 1, kVersionStamp = 2, kDate = 3, kRowFieldCount = 4 };

// Rows in the order they were added. Every field is text without NUL bytes, kept in one pool.
class RowList {
public:
    RowList() = default;
    ~RowList() { delete[] rows_; }
    RowList(const RowList&) = delete;
    RowList& operator=(const RowList&) = delete;

    // Adds a row; false when memory ran out (the list then keeps the rows it had).
    bool Add(const char* const fields[kRowFieldCount], const size_t lengths[kRowFieldCount]);
    bool Add(const char* computer, const char* fileName, const char* stamp, const char* date);
    // Adds every row of another list.
    bool AddAll(const RowList& other);

    size_t Count() const { return count_; }
    const char* Field(size_t row, RowField field) const { return pool_.data() + rows_[row].offset[field]; }

private:
    struct Row {
        size_t offset[kRowFieldCount];
    };
    TextBuffer pool_;
    Row* rows_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

// The Drivers object's list as rows. The list holds two elements per file, the file name with
// its version stamp and "DATE-" and the name with its date: the first file's name element at
// index 0 and its date element last, every other file's date element directly before its name
// element. The rows come in the order of the name elements (indexes 0, 2, 4, ...), each with the
// date element beside it: paired by position, so two files of one name are two rows.
// names[i] and values[i] are element i's. False, with the rows added so far, when the list is
// not made of such pairs or memory ran out; *problem says which.
bool RowsFromDataList(const char* computer, const char* const* names, const char* const* values, size_t count,
                      RowList& rows, const char** problem);
