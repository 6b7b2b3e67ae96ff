# Host build settings: native compilers, GoogleTest from the distribution's sources,
# sanitizers on the native tests.
option(BRANTOVIX_SANITIZE "Build native tests with AddressSanitizer and UndefinedBehaviorSanitizer" ON)

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(BRANTOVIX_HOST_WARNINGS -Wall -Wextra)
if(BRANTOVIX_SANITIZE)
  set(BRANTOVIX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
else()
  set(BRANTOVIX_SANITIZER_FLAGS)
endif()

# brantovix_add_native_library(NAME SOURCES...): pure logic compiled for the host, with the
# sanitizers when they are on, so that tests and fuzzers can link it.
function(brantovix_add_native_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${BRANTOVIX_HOST_WARNINGS} ${BRANTOVIX_SANITIZER_FLAGS})
  target_link_options(${name} INTERFACE ${BRANTOVIX_SANITIZER_FLAGS})
endfunction()
