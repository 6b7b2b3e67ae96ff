// DataList: the ordered name/value pairs that a Drivers object hands to its clients.
// The first pair is the head; every later pair is inserted directly after the head, so the
// index order after adding p1..pn is p1, pn, pn-1, ..., p2. Nothing is counted or indexed in
// advance: every lookup walks the chain from the head.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "owner.h"

class DataElement {
public:
    DataElement();
    virtual ~DataElement();

    // A new element holding copies of both texts, or null when memory for it or for either
    // copy ran out: an element never holds one text without the other.
    static DataElement* Create(const OLECHAR* name, const OLECHAR* value);

    bool SetName(const OLECHAR* text);
    bool SetValue(const OLECHAR* text);
    bool CopyName(BSTR* out) const;
    bool CopyValue(BSTR* out) const;
    bool InsertAfter(const OLECHAR* name, const OLECHAR* value);
    DataElement* FindByIndex(long index);
    DataElement* FindByName(const OLECHAR* name);
    unsigned long CountFrom() const;
    bool RemoveNext();
    bool RemoveAllAfter();

private:
    DataElement(const DataElement&) = delete;
    DataElement& operator=(const DataElement&) = delete;

    DataElement* next_;
    Bstr name_;
    Bstr value_;
};

class DataList {
public:
    DataList();
    virtual ~DataList();

    // Add one pair, whole: true, or false with nothing added when memory ran out.
    bool AddPair(const OLECHAR* name, const OLECHAR* value);
    bool AddAnsiPair(const char* name, const char* value);
    // Takes back the pair added last (the head, or the element directly behind it); false when
    // the list is empty.
    bool RemoveNewestPair();
    unsigned long GetCount() const;
    BSTR GetNameByIndex(long index) const;
    BSTR GetValueByIndex(long index) const;
    BSTR GetValueByName(const OLECHAR* name) const;

private:
    DataList(const DataList&) = delete;
    DataList& operator=(const DataList&) = delete;

    DataElement* head_;
};

// A new BSTR with the text of a zero-terminated ANSI string, converted through the ANSI code
// page; an empty string gives an empty (non-null) BSTR; null when memory runs out.
BSTR ToWideString(const char* text);
