# The export tables of the DLLs: one list of name:argument-bytes entries in ordinal order
# (ordinal = position) gives every .def file and import library made for a DLL.

# tellam_write_defs(<dll> <folder> [ORDINALS] EXPORTS <name:bytes>...)
# Writes into <folder>, for <dll> (say tellamio.dll):
#   tellamio.def          the DLL's export table: undecorated names at their ordinals;
#   tellamio_imports.def  the names a caller references (on i686 stdcall's name@N), the
#                         source of the import libraries by name;
#   tellamio_ordinals.def with ORDINALS: the same names bound by ordinal only (NONAME).
function(tellam_write_defs dll folder)
  cmake_parse_arguments(arg "ORDINALS" "" "EXPORTS" ${ARGN})
  get_filename_component(base ${dll} NAME_WE)
  set(dll_def "LIBRARY ${dll}\nEXPORTS\n")
  set(imports_def "${dll_def}")
  set(ordinals_def "${dll_def}")
  set(ordinal 0)
  foreach(entry IN LISTS arg_EXPORTS)
    math(EXPR ordinal "${ordinal} + 1")
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 argbytes)
    set(referenced ${name})
    if(NOT TELLAM_WIN64)
      set(referenced ${name}@${argbytes})
    endif()
    string(APPEND dll_def "  ${name} @${ordinal}\n")
    string(APPEND imports_def "  ${referenced} @${ordinal}\n")
    string(APPEND ordinals_def "  ${referenced} @${ordinal} NONAME\n")
  endforeach()
  tellam_write_if_changed(${folder}/${base}.def "${dll_def}")
  tellam_write_if_changed(${folder}/${base}_imports.def "${imports_def}")
  if(arg_ORDINALS)
    tellam_write_if_changed(${folder}/${base}_ordinals.def "${ordinals_def}")
  endif()
endfunction()

# tellam_write_if_changed(<file> <content>)
# Leaves <file> untouched when it already holds <content>: a configure run again then relinks
# nothing, so a built tree stays as it is while its programs run.
function(tellam_write_if_changed file content)
  if(EXISTS ${file})
    file(READ ${file} old)
    if("${old}" STREQUAL "${content}")
      return()
    endif()
  endif()
  file(WRITE ${file} "${content}")
endfunction()

# tellam_link_decorated_names(<target> <imports.def>)
# On i686 the linker's import library of a stdcall DLL holds only the undecorated names,
# which no caller references (it asks for name@N): remakes it from the decorated table, so
# that the build's own programs link the DLL by name. Nothing to do on x86_64.
function(tellam_link_decorated_names target imports_def)
  if(NOT TELLAM_WIN64)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    get_filename_component(folder ${imports_def} DIRECTORY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -k -d ${imports_def} -D $<TARGET_FILE_NAME:${target}>
              -l $<TARGET_LINKER_FILE:${target}>
      WORKING_DIRECTORY ${folder})
  endif()
endfunction()
