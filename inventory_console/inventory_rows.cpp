#include "inventory_rows.h"

namespace {

size_t Length(const char* text) {
    size_t count = 0;
    while (text[count]) ++count;
    return count;
}

const char kDatePrefix[] = "DATE-";

// Whether `dateName` is "DATE-" followed by `name`, exactly, as the list names them.
bool IsDateNameOf(const char* dateName, const char* name) {
    for (const char* prefix = kDatePrefix; *prefix; ++prefix, ++dateName) {
        if (*dateName != *prefix) return false;
    }
    for (; *name; ++name, ++dateName) {
        if (*dateName != *name) return false;
    }
    return *dateName == 0;
}

}   // namespace

bool RowList::Add(const char* const fields[kRowFieldCount], const size_t lengths[kRowFieldCount]) {
    if (count_ == capacity_) {
        size_t capacity = capacity_ ? capacity_ * 2 : 64;
        if (capacity > static_cast<size_t>(-1) / sizeof(Row)) return false;
        Row* grown = new Row[capacity];
        if (!grown) return false;
        for (size_t i = 0; i < count_; ++i) grown[i] = rows_[i];
        delete[] rows_;
        rows_ = grown;
        capacity_ = capacity;
    }
    Row row;
    for (int field = 0; field < kRowFieldCount; ++field) {
        row.offset[field] = pool_.size();
        pool_.Append(fields[field], lengths[field]);
        pool_.AppendChar('\0');
    }
    if (!pool_.Ok()) return false;
    rows_[count_++] = row;
    return true;
}

bool RowList::Add(const char* computer, const char* fileName, const char* stamp, const char* date) {
    const char* fields[kRowFieldCount] = {computer, fileName, stamp, date};
    size_t lengths[kRowFieldCount];
    for (int field = 0; field < kRowFieldCount; ++field) lengths[field] = Length(fields[field]);
    return Add(fields, lengths);
}

bool RowList::AddAll(const RowList& other) {
    for (size_t row = 0; row < other.Count(); ++row) {
        if (!Add(other.Field(row, kComputer), other.Field(row, kFileName), other.Field(row, kVersionStamp),
                 other.Field(row, kDate)))
            return false;
    }
    return true;
}

bool RowsFromDataList(const char* computer, const char* const* names, const char* const* values, size_t count,
                      RowList& rows, const char** problem) {
    *problem = nullptr;
    if (count % 2 != 0) {
        *problem = "the list has an odd number of elements, not pairs of a file name and its date";
        return false;
    }
    for (size_t nameIndex = 0; nameIndex < count; nameIndex += 2) {
        size_t dateIndex = nameIndex == 0 ? count - 1 : nameIndex - 1;
        if (!IsDateNameOf(names[dateIndex], names[nameIndex])) {
            *problem = "the list's elements are not in pairs of a file name and its date";
            return false;
        }
        if (!rows.Add(computer, names[nameIndex], values[nameIndex], values[dateIndex])) {
            *problem = "not enough memory";
            return false;
        }
    }
    return true;
}
