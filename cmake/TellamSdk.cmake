# The release archive's contents, as the install component "sdk" (tools/release installs it
# into a staging folder and zips it): bin/, include/, lib/ with the import libraries and the
# CMake package, docs/, examples/ and README.txt. The target `sdk` builds what it holds.
include(CMakePackageConfigHelpers)

# Which Windows the archive is for, in its README.txt.
if(TELLAM_WIN64)
  set(TELLAM_SDK_ARCH win64)
  set(TELLAM_SDK_BITS 64)
  set(dlltool_machine i386:x86-64)
  set(dlltool_kill "")
  set(TELLAM_SDK_WHERE [[
This archive is for 64-bit Windows (x64): 64-bit programs, with the board's
64-bit driver. For 32-bit Windows take the win32 archive.]])
else()
  set(TELLAM_SDK_ARCH win32)
  set(TELLAM_SDK_BITS 32)
  set(dlltool_machine i386)
  set(dlltool_kill -k)  # names in the .lib are name@N, the DLL's are undecorated
  set(TELLAM_SDK_WHERE [[
This archive is for 32-bit Windows (x86), with the board's 32-bit driver. Its
programs and tellamio.dll also run on 64-bit Windows as 32-bit programs, with
the board's 64-bit driver: there the simulated driver is the win64 archive's
tlmsim.sys (installed with that archive's tlmsimctl.exe), and the driver is
removed with the win64 archive's tlmremove.exe.]])
endif()
string(REPLACE "\n" "\r\n" TELLAM_SDK_WHERE "${TELLAM_SDK_WHERE}")  # README.txt has CR LF lines
set(TELLAM_SDK_NAME tellam-sdk-${PROJECT_VERSION}-${TELLAM_SDK_ARCH})
file(WRITE ${PROJECT_BINARY_DIR}/sdk-name.txt "${TELLAM_SDK_NAME}\n")

# The import libraries by name, for MinGW and for MSVC, from the decorated table: on i686 a
# caller references name@N, and -k makes the DLL's undecorated name the one imported (the
# linker's own import library of the DLL has only the undecorated names, which no i686 caller
# can link with).
find_program(TELLAM_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(sdk_import_libraries "")
# tellam_sdk_import_libraries(<imports.def> <dll> <MinGW library> <MSVC library>): both into
# sdk-files/. dlltool names the archive members after the output path: a relative one keeps
# the build folder out of the bytes.
function(tellam_sdk_import_libraries imports_def dll mingw_lib msvc_lib)
  set(folder ${PROJECT_BINARY_DIR}/sdk-files)
  add_custom_command(OUTPUT ${folder}/${mingw_lib} ${folder}/${msvc_lib}
    COMMAND ${CMAKE_DLLTOOL} ${dlltool_kill} -d ${imports_def} -D ${dll} -l ${mingw_lib}
    COMMAND ${TELLAM_LLVM_DLLTOOL} -m ${dlltool_machine} ${dlltool_kill} -d ${imports_def} -D ${dll} -l ${msvc_lib}
    DEPENDS ${imports_def}
    WORKING_DIRECTORY ${folder}
    COMMENT "Import libraries of ${mingw_lib}")
  set(sdk_import_libraries ${sdk_import_libraries} ${folder}/${mingw_lib} ${folder}/${msvc_lib} PARENT_SCOPE)
endfunction()
set(tellamio_dir ${PROJECT_BINARY_DIR}/tellamio)
tellam_sdk_import_libraries(${tellamio_dir}/tellamio_imports.def tellamio.dll libtellamio.dll.a tellamio.lib)
# The simulated library: the twenty and its control exports (tellamio_sim.h).
tellam_sdk_import_libraries(${tellamio_dir}/sim/tellamio_imports.def tellamio.dll libtellamio_sim.dll.a
                            tellamio_sim.lib)
tellam_sdk_import_libraries(${PROJECT_BINARY_DIR}/motion/tellamio_motion_imports.def tellamio_motion.dll
                            libtellamio_motion.dll.a tellamio_motion.lib)
add_custom_target(sdk ALL DEPENDS ${sdk_import_libraries})
set(sdk_programs tellamio tellamio_motion tlmtest6 tlmtest4 tlmremove tlmsim tlmsimctl)
foreach(t IN LISTS sdk_programs)
  if(TARGET ${t})
    add_dependencies(sdk ${t})
    install(TARGETS ${t} COMPONENT sdk RUNTIME DESTINATION bin LIBRARY DESTINATION bin)
  endif()
endforeach()
add_dependencies(sdk tellamio_ordinals_lib tellamio_sim)
# bin/sim/tellamio.dll: the simulated library, a drop-in for bin/tellamio.dll.
install(TARGETS tellamio_sim COMPONENT sdk RUNTIME DESTINATION bin/sim LIBRARY DESTINATION bin/sim)

install(FILES ${PROJECT_SOURCE_DIR}/tellamio/tellamio.h ${PROJECT_SOURCE_DIR}/tellamio/tellam_controller.h
              ${PROJECT_SOURCE_DIR}/tellamio/tellam_protocol.h
              ${PROJECT_SOURCE_DIR}/tellamio/tellamio_sim.h ${PROJECT_SOURCE_DIR}/sim/tlmsim_control.h
              ${PROJECT_SOURCE_DIR}/motion/tellamio_motion.h
        DESTINATION include COMPONENT sdk)
# tellamio_ordinals.def binds by ordinal, with the names a caller references (on i686 with
# their stdcall decoration): the source of libtellamio_ordinals.a, and what `lib /def:` makes
# an MSVC import library from.
install(FILES ${sdk_import_libraries} ${tellamio_dir}/libtellamio_ordinals.a ${tellamio_dir}/tellamio.def
              ${tellamio_dir}/tellamio_ordinals.def
        DESTINATION lib COMPONENT sdk)

configure_file(${CMAKE_CURRENT_LIST_DIR}/tellamio-config.cmake.in
               ${PROJECT_BINARY_DIR}/sdk-files/tellamio-config.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sdk-files/tellamio-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/sdk-files/tellamio-config.cmake
              ${PROJECT_BINARY_DIR}/sdk-files/tellamio-config-version.cmake
        DESTINATION lib/cmake/tellamio COMPONENT sdk)

configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk-README.txt.in ${PROJECT_BINARY_DIR}/sdk-files/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/sdk-files/README.txt DESTINATION . COMPONENT sdk)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples COMPONENT sdk PATTERN "__pycache__" EXCLUDE)
# The Python package as source (python/tellam, beside the DLLs it loads once copied there);
# its wheels, with the DLLs inside, come beside the archives.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/tellam DESTINATION python COMPONENT sdk
        PATTERN "__pycache__" EXCLUDE)
# The manual as the tree has it when the release is made, without its sections for the
# package's own developers: the archive's docs name no file outside the archive.
install(CODE "execute_process(COMMAND \"${Python3_EXECUTABLE}\" \"${CMAKE_CURRENT_LIST_DIR}/sdk-docs.py\"
                \"${PROJECT_SOURCE_DIR}/docs\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/docs\"
                COMMAND_ERROR_IS_FATAL ANY)" COMPONENT sdk)
