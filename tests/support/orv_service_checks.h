// Checks of the IOrvService contract that hold for every implementation of it, the Drivers body
// on its own as much as the object COM creates around it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "brantovix_idl.h"

// The five methods that would change the list are not implemented: each answers E_NOTIMPL,
// whatever it is given (`text` serves as every name, value and file name).
inline void ExpectChangingMethodsNotImplemented(IOrvService* service, BSTR text) {
    EXPECT_EQ(E_NOTIMPL, service->AddDataElement(text, text));
    EXPECT_EQ(E_NOTIMPL, service->RemoveDataElementByIndex(0));
    EXPECT_EQ(E_NOTIMPL, service->RemoveDataElementByName(text));
    EXPECT_EQ(E_NOTIMPL, service->SetDataListValue(0, text));
    EXPECT_EQ(E_NOTIMPL, service->LogDataListToFile(text));
}
