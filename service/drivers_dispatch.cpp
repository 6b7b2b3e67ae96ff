// IDispatch of the Drivers body: everything is answered from IOrvService's type information.
#include "drivers.h"
#include "interface_type_info.h"

HRESULT DriversBody::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT DriversBody::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) {
    return OrvServiceTypeInfo().GetTypeInfo(index, lcid, typeInfo);
}

HRESULT DriversBody::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispIds) {
    return OrvServiceTypeInfo().GetIDsOfNames(names, count, lcid, dispIds);
}

HRESULT DriversBody::Invoke(DISPID dispId, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argumentError) {
    return OrvServiceTypeInfo().Invoke(static_cast<IOrvService*>(this), dispId, lcid, flags, params, result, exception,
                                       argumentError);
}
