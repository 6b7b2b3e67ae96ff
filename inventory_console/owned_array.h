// An array from new[], deleted with delete[]: the owner template's kind for the
// console program's logic, which is free of the platform.
#pragma once
#include "owner_template.h"

template <typename T>
struct OwnedArrayTraits {
    using Value = T*;
    static T* Empty() { return nullptr; }
    static void Close(T* block) { delete[] block; }
};
template <typename T>
using OwnedArray = Owner<OwnedArrayTraits<T>>;
