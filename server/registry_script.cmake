# The registrar script interpreter. Its parser and replacement map reach the registry, the
# code page and task memory only through small interfaces, so they also build for the host
# (tests and the fuzz driver run them on a registry in memory under the sanitizers).
if(BRANTOVIX_WINDOWS_BUILD)
  brantovix_add_product_library(brantovix_registry_script
    apply_registry_script.cpp
    registry_script_parser.cpp
    replacement_map.cpp
    win32_registry_target.cpp
    win32_script_code_page.cpp
  )
  target_include_directories(brantovix_registry_script PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(brantovix_registry_script PUBLIC brantovix_module advapi32 user32 ole32 oleaut32)
  target_link_libraries(Brantovix PRIVATE brantovix_registry_script)
  # The module's script is resource "REGISTRY" 101: rebuild the resources when it changes.
  if(rc_output)
    add_custom_command(OUTPUT ${rc_output} APPEND DEPENDS ${CMAKE_SOURCE_DIR}/resources/brantovix.rgs)
  endif()
else()
  brantovix_add_native_library(registry_script_parser registry_script_parser.cpp replacement_map.cpp)
  target_include_directories(registry_script_parser PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
endif()
