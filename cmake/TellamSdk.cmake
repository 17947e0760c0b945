# The release archive's contents, as the install component "sdk" (tools/release installs it
# into a staging folder and zips it): bin/, include/, lib/ with the import libraries and the
# CMake package, docs/, examples/ and README.txt. The target `sdk` builds what it holds.
include(CMakePackageConfigHelpers)

if(TELLAM_WIN64)
  set(TELLAM_SDK_ARCH win64)
  set(dlltool_machine i386:x86-64)
  set(dlltool_kill "")
else()
  set(TELLAM_SDK_ARCH win32)
  set(dlltool_machine i386)
  set(dlltool_kill -k)  # names in the .lib are name@N, the DLL's are undecorated
endif()
set(TELLAM_SDK_NAME tellam-sdk-${PROJECT_VERSION}-${TELLAM_SDK_ARCH})
file(WRITE ${PROJECT_BINARY_DIR}/sdk-name.txt "${TELLAM_SDK_NAME}\n")

# The MSVC import library.
find_program(TELLAM_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(tellamio_dir ${PROJECT_BINARY_DIR}/tellamio)
set(msvc_lib ${tellamio_dir}/tellamio.lib)
add_custom_command(OUTPUT ${msvc_lib}
  COMMAND ${TELLAM_LLVM_DLLTOOL} -m ${dlltool_machine} ${dlltool_kill} -d ${tellamio_dir}/tellamio_msvc.def
          -D tellamio.dll -l ${msvc_lib}
  DEPENDS ${tellamio_dir}/tellamio_msvc.def
  COMMENT "MSVC import library for tellamio.dll")

add_custom_target(sdk ALL DEPENDS ${msvc_lib})
set(sdk_programs tellamio tlmtest6 tlmtest4 tlmremove tlmsim tlmsimctl)
foreach(t IN LISTS sdk_programs)
  if(TARGET ${t})
    add_dependencies(sdk ${t})
    install(TARGETS ${t} COMPONENT sdk RUNTIME DESTINATION bin LIBRARY DESTINATION bin
            ARCHIVE DESTINATION lib)
  endif()
endforeach()
add_dependencies(sdk tellamio_ordinals_lib)

install(FILES ${PROJECT_SOURCE_DIR}/tellamio/tellamio.h DESTINATION include COMPONENT sdk)
install(FILES ${msvc_lib} ${tellamio_dir}/libtellamio_ordinals.a ${tellamio_dir}/tellamio.def
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
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples COMPONENT sdk)
# The reference as the tree has it when the release is made.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs COMPONENT sdk OPTIONAL)
