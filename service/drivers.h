// The body of the Drivers class: construction runs the whole inventory and fills the data
// list; afterwards the ten IOrvService methods only read that list.
//
// The body leaves IUnknown to the object wrappers of the server frame (standalone and
// aggregated forms); IDispatch goes through the registered type library. Its vtable is
// IOrvService's 17 slots followed by the virtual destructor.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "brantovix_idl.h"

class DataList;
class DriverInventory;

class DriversBody : public IOrvService {
public:
    DriversBody();
    virtual ~DriversBody();

    // IDispatch, answered from IOrvService's type information (interface_type_info.h)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* dispIds) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IOrvService
    HRESULT STDMETHODCALLTYPE GetComponentInfomation(BSTR* information) override;
    HRESULT STDMETHODCALLTYPE GetDataListSize(long* size) override;
    HRESULT STDMETHODCALLTYPE GetDataListName(long listIndex, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetDataListValueByIndex(long listIndex, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE GetDataListValueByName(BSTR name, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE AddDataElement(BSTR name, BSTR value) override;
    HRESULT STDMETHODCALLTYPE RemoveDataElementByIndex(long listIndex) override;
    HRESULT STDMETHODCALLTYPE RemoveDataElementByName(BSTR name) override;
    HRESULT STDMETHODCALLTYPE SetDataListValue(long listIndex, BSTR value) override;
    HRESULT STDMETHODCALLTYPE LogDataListToFile(BSTR fileName) override;

    // What the construction came to: S_OK, or E_OUTOFMEMORY when memory ran out for the list,
    // for the inventory or for one of its rows. The object creator refuses a body that failed.
    HRESULT ConstructionResult() const { return constructionResult_; }

protected:
    DataList* dataList_;

private:
    // Adds, for every row of a finished inventory in table order, the pair (file name, version
    // stamp) and the pair ("DATE-" + file name, date text). Returns false when memory ran out:
    // the rows added so far stay, each with both its pairs; nothing of the row at hand or later
    // ones is added.
    bool AddInventoryRows(const DriverInventory& inventory);

    // Puts the enumerator driver file in place from this library's "DRIVER" 201 resource when
    // it is absent (enumerator_driver_file.h). 1 when the file was found or a write was
    // attempted, even one that failed: the inventory then runs without the driver's lists. 0
    // when it is absent and the library carries no such resource.
    int DeployEnumeratorDriver();

    HRESULT constructionResult_;

    DriversBody(const DriversBody&) = delete;
    DriversBody& operator=(const DriversBody&) = delete;
};
