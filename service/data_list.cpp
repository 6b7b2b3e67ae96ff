#include "data_list.h"

namespace {

// Equal when both texts have the same 16-bit units up to and including the terminator; a null
// text reads as the empty string.
bool SameText(const OLECHAR* a, const OLECHAR* b) {
    static const OLECHAR kEmpty[] = {0};
    if (!a) a = kEmpty;
    if (!b) b = kEmpty;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}   // namespace

BSTR ToWideString(const char* text) {
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    HeapArray<OLECHAR> buffer(new OLECHAR[units]);
    if (!buffer) return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, buffer.get(), units) <= 0) return nullptr;
    return SysAllocString(buffer.get());
}

DataElement::DataElement() : next_(nullptr) {}

// The element's own strings go with its owners; the elements behind it are the list's to free.
DataElement::~DataElement() {}

// A copy of a text that exists is null only when it could not be allocated.
bool DataElement::SetName(const OLECHAR* text) {
    name_.reset(SysAllocString(text));
    return name_ || !text;
}

bool DataElement::SetValue(const OLECHAR* text) {
    value_.reset(SysAllocString(text));
    return value_ || !text;
}

DataElement* DataElement::Create(const OLECHAR* name, const OLECHAR* value) {
    DataElement* element = new DataElement;
    if (!element) return nullptr;
    if (!element->SetName(name) || !element->SetValue(value)) {
        delete element;
        return nullptr;
    }
    return element;
}

namespace {

// A caller's copy: a new BSTR of the same length, or null for a null text.
BSTR CopyText(const Bstr& text) {
    return text ? SysAllocStringLen(text.get(), SysStringLen(text.get())) : nullptr;
}

}   // namespace

bool DataElement::CopyName(BSTR* out) const {
    *out = CopyText(name_);
    return true;
}

bool DataElement::CopyValue(BSTR* out) const {
    *out = CopyText(value_);
    return true;
}

bool DataElement::InsertAfter(const OLECHAR* name, const OLECHAR* value) {
    DataElement* element = Create(name, value);
    if (!element) return false;   // no memory: nothing is added
    element->next_ = next_;
    next_ = element;
    return true;
}

DataElement* DataElement::FindByIndex(long index) {
    DataElement* current = this;
    for (long remaining = index; remaining >= 1; --remaining) {
        current = current->next_;
        if (!current) return nullptr;
    }
    return current;
}

DataElement* DataElement::FindByName(const OLECHAR* name) {
    for (DataElement* current = this; current; current = current->next_) {
        if (SameText(current->name_.get(), name)) return current;
    }
    return nullptr;
}

unsigned long DataElement::CountFrom() const {
    // Counted by walking, never stored. A loop rather than recursion: the list may hold a few
    // thousand elements and the stack of a client thread need not be deep.
    unsigned long count = 0;
    for (const DataElement* current = this; current; current = current->next_) ++count;
    return count;
}

bool DataElement::RemoveNext() {
    DataElement* removed = next_;
    if (!removed) return false;
    next_ = removed->next_;
    delete removed;
    return true;
}

bool DataElement::RemoveAllAfter() {
    if (!next_) return false;
    while (RemoveNext()) {}
    return true;
}

DataList::DataList() : head_(nullptr) {}

DataList::~DataList() {
    if (!head_) return;
    head_->RemoveAllAfter();
    delete head_;
}

bool DataList::AddPair(const OLECHAR* name, const OLECHAR* value) {
    if (head_) return head_->InsertAfter(name, value);
    head_ = DataElement::Create(name, value);
    return head_ != nullptr;
}

bool DataList::AddAnsiPair(const char* name, const char* value) {
    // A text that could not be converted is not stored as a missing one.
    Bstr wideName(ToWideString(name));
    Bstr wideValue(ToWideString(value));
    if (!wideName || !wideValue) return false;
    return AddPair(wideName.get(), wideValue.get());
}

bool DataList::RemoveNewestPair() {
    if (!head_) return false;
    if (head_->RemoveNext()) return true;
    delete head_;
    head_ = nullptr;
    return true;
}

unsigned long DataList::GetCount() const {
    return head_ ? head_->CountFrom() : 0;
}

BSTR DataList::GetNameByIndex(long index) const {
    DataElement* element = head_ ? head_->FindByIndex(index) : nullptr;
    BSTR copy = nullptr;
    if (element) element->CopyName(&copy);
    return copy;
}

BSTR DataList::GetValueByIndex(long index) const {
    DataElement* element = head_ ? head_->FindByIndex(index) : nullptr;
    BSTR copy = nullptr;
    if (element) element->CopyValue(&copy);
    return copy;
}

BSTR DataList::GetValueByName(const OLECHAR* name) const {
    DataElement* element = head_ ? head_->FindByName(name) : nullptr;
    BSTR copy = nullptr;
    if (element) element->CopyValue(&copy);
    return copy;
}
