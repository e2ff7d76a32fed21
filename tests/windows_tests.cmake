# The Windows test program, velmora_win_tests.exe: every portable suite of this folder and
# the tests of the Windows platform layer, cross-built with MinGW-w64 and run under Wine
# (scripts/test-windows). GoogleTest is built here from Debian's sources with the same
# cross compiler; the program is linked statically, so it runs without the toolchain's DLLs.
set(VELMORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
if(NOT EXISTS ${VELMORA_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${VELMORA_GTEST_SOURCE} (Debian package googletest)")
endif()
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VELMORA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(velmora_win_tests ${VELMORA_PORTABLE_SUITES} win32_platform_test.cc)
target_link_libraries(velmora_win_tests PRIVATE velmora_core velmora_pxl_stream velmora_platform_fake gtest_main gmock)
target_link_options(velmora_win_tests PRIVATE -static)
