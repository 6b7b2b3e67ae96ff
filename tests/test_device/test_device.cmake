# The test device ORV_DE.VXD: a PE DLL that the platform loads for "\\.\ORV_DE.vxd" in
# Windows 98 mode and whose DeviceIoControl export answers the enumerator driver's requests
# from lists the tests set up. Test equipment only, built into the directory of the tests
# that use it (the platform looks in the program's directory first).
function(brantovix_add_test_device directory)
  add_library(test_device SHARED ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/test_device.cpp
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/test_device.def)
  set_target_properties(test_device PROPERTIES PREFIX "" OUTPUT_NAME ORV_DE SUFFIX ".VXD"
    RUNTIME_OUTPUT_DIRECTORY ${directory})
  target_compile_definitions(test_device PRIVATE ${BRANTOVIX_PRODUCT_DEFINITIONS})
  target_link_libraries(test_device PRIVATE enumerator_protocol)
  target_link_options(test_device PRIVATE ${BRANTOVIX_WINDOWS_LINK_OPTIONS})
endfunction()
