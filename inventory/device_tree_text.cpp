#include "device_tree_text.h"

namespace device_tree_text {

int TerminateValueString(char* buffer, uint32_t bufferSize, uint32_t dataLength) {
    if (bufferSize == 0) return 0;
    if (dataLength > bufferSize) dataLength = bufferSize;
    for (uint32_t i = 0; i < dataLength; ++i) {
        if (buffer[i] == '\0') return 1;
    }
    if (dataLength == bufferSize) return 0;
    buffer[dataLength] = '\0';
    return 1;
}

namespace {

uint32_t Length(const char* text) {
    uint32_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

}   // namespace

int JoinKeyPath(char* out, uint32_t outSize, const char* head, const char* tail) {
    if (outSize == 0) return 0;
    out[0] = '\0';
    uint64_t headLength = Length(head);
    uint64_t tailLength = Length(tail);
    if (headLength + 1 + tailLength + 1 > outSize) return 0;
    char* p = out;
    for (uint32_t i = 0; i < headLength; ++i) *p++ = head[i];
    *p++ = '\\';
    for (uint32_t i = 0; i < tailLength; ++i) *p++ = tail[i];
    *p = '\0';
    return 1;
}

void ForEachListedName(const char* list, ListedNameVisitor visit, void* context) {
    char piece[kPieceBufferSize];
    uint32_t length = 0;
    bool tooLong = false;
    for (const char* p = list;; ++p) {
        if (*p == ',' || *p == '\0') {
            piece[length] = '\0';
            if (!tooLong) visit(piece, context);
            length = 0;
            tooLong = false;
            if (*p == '\0') return;
            continue;
        }
        if (length + 1 < kPieceBufferSize) {
            piece[length++] = *p;
        } else {
            tooLong = true;
        }
    }
}

}   // namespace device_tree_text
