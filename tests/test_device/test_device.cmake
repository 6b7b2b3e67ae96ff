# The test device ORV_DE.VXD: a PE DLL that the platform loads for "\\.\ORV_DE.vxd" in
# Windows 98 mode and whose DeviceIoControl export answers the enumerator driver's requests
# from lists the tests set up. Test equipment only, built into a directory of its own: a test
# deploys it to the system directory (TestDeviceControl), the one place the client lets the
# platform load it from.
function(brantovix_add_test_device directory)
  add_library(test_device SHARED ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/test_device.cpp
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/test_device.def)
  set_target_properties(test_device PROPERTIES PREFIX "" OUTPUT_NAME ORV_DE SUFFIX ".VXD"
    RUNTIME_OUTPUT_DIRECTORY ${directory})
  target_compile_definitions(test_device PRIVATE ${BRANTOVIX_PRODUCT_DEFINITIONS})
  target_link_libraries(test_device PRIVATE enumerator_protocol)
  target_link_options(test_device PRIVATE ${BRANTOVIX_WINDOWS_LINK_OPTIONS})
endfunction()

# A test that uses the test device (test_device_control.h).
function(brantovix_use_test_device target)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/test_device)
  target_compile_definitions(${target} PRIVATE "TEST_DEVICE_FILE=\"Z:$<TARGET_FILE:test_device>\"")
  add_dependencies(${target} test_device)
endfunction()

# The marking device ORV_DE.VXD: a file of the driver's name that must never be loaded. Loading
# it leaves a mark, a file of its own path with ".LOADED" appended; its DeviceIoControl export
# answers the first module request with the name "PLANTED".
function(brantovix_add_marking_device directory)
  add_library(marking_device SHARED ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/marking_device.cpp
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/marking_device.def)
  set_target_properties(marking_device PROPERTIES PREFIX "" OUTPUT_NAME ORV_DE SUFFIX ".VXD"
    RUNTIME_OUTPUT_DIRECTORY ${directory})
  target_compile_definitions(marking_device PRIVATE ${BRANTOVIX_PRODUCT_DEFINITIONS})
  target_link_libraries(marking_device PRIVATE enumerator_protocol)
  target_link_options(marking_device PRIVATE ${BRANTOVIX_WINDOWS_LINK_OPTIONS})
endfunction()
