# Windows tests under Wine, for the win64 and the win32 build alike.
#
# Use from any test folder's CMakeLists.txt:
#
#   include(${PROJECT_SOURCE_DIR}/cmake/WineTests.cmake)
#   add_executable(my_wine_test my_test.cpp)
#   target_link_libraries(my_wine_test PRIVATE tlm_wine_gtest tlmwin_support tellamio)
#   tlm_add_wine_test(NAME my_wine_test TARGET my_wine_test [ARGS ...] [TIMEOUT s] [LABELS ...]
#                     [WINDOWS_VERSION win98|winxp|...] [SESSION wine|wow64] [ENVIRONMENT V=x ...])
#
# - tlm_wine_gtest: GoogleTest and gtest_main, built for Windows from /usr/src/googletest and
#   linked statically (the test program needs no mingw DLL).
# - tlmwin_support: tests/support/sim_client.h, the client of tlmsim.sys' private
#   requests (boards, inputs, clock, faults, request trace, open handles), plus
#   tlmsim_control.h.
# - tlm_add_wine_test adds a CTest test that runs the program through tools/wine-run (the
#   target's CROSSCOMPILING_EMULATOR) in the bin directory, where tellamio.dll lies, inside
#   the one Wine session of the run: the tests wine_session_start / wine_session_stop are
#   the setup and cleanup of the fixture "wine", which every Wine test requires, so
#   `ctest --preset win64` (or any -R selection) starts and ends the session by itself. The
#   prefix is <build>/wineprefix, of the build's own architecture (TELLAM_WINEARCH: the win32
#   build runs in a 32-bit Windows with the 32-bit tlmsim.sys); tlmsim.sys is built before the
#   tests run (it is a dependency of every target added here). Wine tests run one at a time
#   (RESOURCE_LOCK). WINDOWS_VERSION sets HKCU\Software\Wine\Version for that run (removed
#   after it); without it the program sees Wine's default version. ENVIRONMENT: more variables
#   for the program (Wine passes them on).
# - SESSION wow64 (win32 build only): the 32-bit program runs on 64-bit Windows instead, as a
#   user of the 32-bit package there does: the 64-bit prefix <build>/wow64/wineprefix with the
#   64-bit tlmsim.sys, which the win32 build makes in <build>/wow64 (target tlmsim64). Fixture
#   "wow64" (wow64_session_start / wow64_session_stop).
#
# By hand: tools/wine-session start; tools/wine-session run bin/my_wine_test.exe; ...;
# tools/wine-session stop (TLM_WINEPREFIX selects the prefix, which knows its architecture).
include_guard(GLOBAL)

if(NOT WIN32)
  function(tlm_add_wine_test)
  endfunction()
  return()
endif()

# Cache entries, because the function below is called from other directories than the one
# that includes this file first.
set(TLM_WINE_SESSION ${PROJECT_SOURCE_DIR}/tools/wine-session CACHE INTERNAL "")
set(TLM_WINE_RUN ${PROJECT_SOURCE_DIR}/tools/wine-run CACHE INTERNAL "")
# The exit code of tools/wine-session and tools/wine-run for a program this machine cannot run
# (32-bit code without Wine's 32-bit half or on a kernel that refuses it): the test is skipped,
# not failed.
set(TLM_WINE_SKIPPED 77 CACHE INTERNAL "")
# What every test session asks of tools/wine-session besides its prefix: unmanaged windows.
set(TLM_WINE_TEST_SESSION TLM_WINE_UNMANAGED=1 CACHE INTERNAL "")
set(TLM_WINE_ENV
  TLM_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix TLM_WINEARCH=${TELLAM_WINEARCH}
  TLM_SIM_DRIVER=${CMAKE_BINARY_DIR}/bin/tlmsim.sys ${TLM_WINE_TEST_SESSION} CACHE INTERNAL "")
set(TLM_WOW64_ENV
  TLM_WINEPREFIX=${CMAKE_BINARY_DIR}/wow64/wineprefix TLM_WINEARCH=win64 TLM_WINE_WOW64=1
  TLM_SIM_DRIVER=${CMAKE_BINARY_DIR}/wow64/bin/tlmsim.sys ${TLM_WINE_TEST_SESSION} CACHE INTERNAL "")

# GoogleTest for Windows.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# This mingw uses the win32 thread model, without std::mutex and std::condition_variable,
# which GoogleTest's headers name: stand-ins are force-included wherever they are read.
target_compile_options(gtest PUBLIC
  "$<$<COMPILE_LANGUAGE:CXX>:-include${PROJECT_SOURCE_DIR}/tests/support/gtest_win32_threads.h>")
target_compile_options(gtest PRIVATE -w)
add_library(tlm_wine_gtest INTERFACE)
target_link_libraries(tlm_wine_gtest INTERFACE gtest gtest_main)

add_library(tlmwin_support STATIC ${PROJECT_SOURCE_DIR}/tests/support/sim_client.cpp)
target_include_directories(tlmwin_support PUBLIC ${PROJECT_SOURCE_DIR}/tests/support
                                                 ${PROJECT_SOURCE_DIR}/sim ${PROJECT_SOURCE_DIR}/tellamio)

# The session fixtures.
foreach(session wine wow64)
  if(session STREQUAL "wow64" AND TELLAM_WIN64)
    continue()
  endif()
  string(TOUPPER "TLM_${session}_ENV" env)
  add_test(NAME ${session}_session_start COMMAND ${TLM_WINE_SESSION} start)
  add_test(NAME ${session}_session_stop COMMAND ${TLM_WINE_SESSION} stop)
  set_tests_properties(${session}_session_start PROPERTIES FIXTURES_SETUP ${session}
                       ENVIRONMENT "${${env}}" RESOURCE_LOCK wine TIMEOUT 180 LABELS wine
                       SKIP_RETURN_CODE ${TLM_WINE_SKIPPED})
  set_tests_properties(${session}_session_stop PROPERTIES FIXTURES_CLEANUP ${session}
                       ENVIRONMENT "${${env}}" RESOURCE_LOCK wine TIMEOUT 60 LABELS wine)
endforeach()

# The 64-bit tlmsim.sys for the WOW64 session: this tree's driver sources built by the x86_64
# toolchain in <build>/wow64 (only the target tlmsim; no tests there).
if(NOT TELLAM_WIN64)
  include(ExternalProject)
  ExternalProject_Add(tlmsim64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/wow64
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DTELLAM_TEST_SUITES=
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tlmsim
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/wow64/bin/tlmsim.sys
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endif()

# tlm_add_wine_test(NAME name TARGET target [ARGS ...] [TIMEOUT seconds] [LABELS ...]
#                   [WINDOWS_VERSION version])
function(tlm_add_wine_test)
  cmake_parse_arguments(W "" "NAME;TARGET;TIMEOUT;WINDOWS_VERSION;SESSION" "ARGS;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT W_NAME OR NOT W_TARGET)
    message(FATAL_ERROR "tlm_add_wine_test needs NAME and TARGET")
  endif()
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 120)
  endif()
  if(NOT W_SESSION)
    set(W_SESSION wine)
  endif()
  if(W_SESSION STREQUAL "wow64" AND TELLAM_WIN64)
    message(FATAL_ERROR "${W_NAME}: the WOW64 session runs the win32 build's programs")
  endif()
  set_target_properties(${W_TARGET} PROPERTIES CROSSCOMPILING_EMULATOR "${TLM_WINE_RUN}")
  if(TARGET tlmsim)
    add_dependencies(${W_TARGET} tlmsim)
  endif()
  if(W_SESSION STREQUAL "wow64")
    add_dependencies(${W_TARGET} tlmsim64)
  endif()
  add_test(NAME ${W_NAME} COMMAND ${W_TARGET} ${W_ARGS}
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  string(TOUPPER "TLM_${W_SESSION}_ENV" env)
  set(env ${${env}} ${W_ENVIRONMENT})
  if(W_WINDOWS_VERSION)
    list(APPEND env TLM_WINE_VERSION=${W_WINDOWS_VERSION})
  endif()
  set(labels wine ${W_LABELS})
  if(W_SESSION STREQUAL "wow64")
    list(APPEND labels wow64)
  endif()
  set_tests_properties(${W_NAME} PROPERTIES FIXTURES_REQUIRED ${W_SESSION} RESOURCE_LOCK wine
                       ENVIRONMENT "${env}" TIMEOUT ${W_TIMEOUT} LABELS "${labels}"
                       SKIP_RETURN_CODE ${TLM_WINE_SKIPPED})
  # A filter that no longer names a test must not pass as "0 tests".
  if(W_ARGS MATCHES "--gtest_filter=")
    set_tests_properties(${W_NAME} PROPERTIES PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9]"
                         FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
  endif()
endfunction()
