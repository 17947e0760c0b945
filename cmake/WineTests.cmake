# Windows tests under Wine (win64 build only).
#
# Use from any test folder's CMakeLists.txt:
#
#   include(${PROJECT_SOURCE_DIR}/cmake/WineTests.cmake)
#   add_executable(my_wine_test my_test.cpp)
#   target_link_libraries(my_wine_test PRIVATE tlm_wine_gtest tlmwin_support tellamio)
#   tlm_add_wine_test(NAME my_wine_test TARGET my_wine_test [ARGS ...] [TIMEOUT s] [LABELS ...]
#                     [WINDOWS_VERSION win98|winxp|...])
#
# - tlm_wine_gtest: GoogleTest and gtest_main, built for Windows from /usr/src/googletest and
#   linked statically (the test program needs no mingw DLL).
# - tlmwin_support: tests/windows/support/sim_client.h, the client of tlmsim.sys' private
#   requests (boards, inputs, clock, faults, request trace, open handles), plus
#   tlmsim_control.h.
# - tlm_add_wine_test adds a CTest test that runs the program through tools/wine-run (the
#   target's CROSSCOMPILING_EMULATOR) in the bin directory, where tellamio.dll lies, inside
#   the one Wine session of the run: the tests wine_session_start / wine_session_stop are
#   the setup and cleanup of the fixture "wine", which every Wine test requires, so
#   `ctest --preset win64` (or any -R selection) starts and ends the session by itself. The
#   prefix is <build>/wineprefix; tlmsim.sys is built before the tests run (it is a
#   dependency of every target added here). Wine tests run one at a time (RESOURCE_LOCK).
#   WINDOWS_VERSION sets HKCU\Software\Wine\Version for that run (removed after it); without
#   it the program sees Wine's default version.
#
# By hand: tools/wine-session start; tools/wine-session run bin/my_wine_test.exe; ...;
# tools/wine-session stop (TLM_WINEPREFIX selects the prefix).
include_guard(GLOBAL)

if(NOT (WIN32 AND TELLAM_WIN64))
  function(tlm_add_wine_test)
  endfunction()
  return()
endif()

# Cache entries, because the function below is called from other directories than the one
# that includes this file first.
set(TLM_WINE_SESSION ${PROJECT_SOURCE_DIR}/tools/wine-session CACHE INTERNAL "")
set(TLM_WINE_RUN ${PROJECT_SOURCE_DIR}/tools/wine-run CACHE INTERNAL "")
set(TLM_WINE_ENV
  TLM_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  TLM_SIM_DRIVER=${CMAKE_BINARY_DIR}/bin/tlmsim.sys CACHE INTERNAL "")

# GoogleTest for Windows.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# This mingw uses the win32 thread model, without std::mutex and std::condition_variable,
# which GoogleTest's headers name: stand-ins are force-included wherever they are read.
target_compile_options(gtest PUBLIC
  "$<$<COMPILE_LANGUAGE:CXX>:-include${PROJECT_SOURCE_DIR}/tests/windows/support/gtest_win32_threads.h>")
target_compile_options(gtest PRIVATE -w)
add_library(tlm_wine_gtest INTERFACE)
target_link_libraries(tlm_wine_gtest INTERFACE gtest gtest_main)

add_library(tlmwin_support STATIC ${PROJECT_SOURCE_DIR}/tests/windows/support/sim_client.cpp)
target_include_directories(tlmwin_support PUBLIC ${PROJECT_SOURCE_DIR}/tests/windows/support
                                                 ${PROJECT_SOURCE_DIR}/sim)

# The session fixture.
add_test(NAME wine_session_start COMMAND ${TLM_WINE_SESSION} start)
add_test(NAME wine_session_stop COMMAND ${TLM_WINE_SESSION} stop)
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${TLM_WINE_ENV}"
                     RESOURCE_LOCK wine TIMEOUT 180 LABELS wine)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${TLM_WINE_ENV}"
                     RESOURCE_LOCK wine TIMEOUT 60 LABELS wine)

# tlm_add_wine_test(NAME name TARGET target [ARGS ...] [TIMEOUT seconds] [LABELS ...]
#                   [WINDOWS_VERSION version])
function(tlm_add_wine_test)
  cmake_parse_arguments(W "" "NAME;TARGET;TIMEOUT;WINDOWS_VERSION" "ARGS;LABELS" ${ARGN})
  if(NOT W_NAME OR NOT W_TARGET)
    message(FATAL_ERROR "tlm_add_wine_test needs NAME and TARGET")
  endif()
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 120)
  endif()
  set_target_properties(${W_TARGET} PROPERTIES CROSSCOMPILING_EMULATOR "${TLM_WINE_RUN}")
  if(TARGET tlmsim)
    add_dependencies(${W_TARGET} tlmsim)
  endif()
  add_test(NAME ${W_NAME} COMMAND ${W_TARGET} ${W_ARGS}
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(env ${TLM_WINE_ENV})
  if(W_WINDOWS_VERSION)
    list(APPEND env TLM_WINE_VERSION=${W_WINDOWS_VERSION})
  endif()
  set_tests_properties(${W_NAME} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine
                       ENVIRONMENT "${env}" TIMEOUT ${W_TIMEOUT} LABELS "wine;${W_LABELS}")
endfunction()
