# Turns a list of exported names (one per line, '#' comments allowed) into a linker
# version script that exports exactly those names and hides everything else. The script
# has no version node: hosts see plain, unversioned names.
function(vem_version_script target list_file)
  file(STRINGS ${list_file} lines)
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(NOT line STREQUAL "")
      string(APPEND names "    ${line};\n")
    endif()
  endforeach()
  set(script ${CMAKE_BINARY_DIR}/${target}.map)
  file(WRITE ${script} "{\n  global:\n${names}  local:\n    *;\n};\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  target_link_options(${target} PRIVATE -Wl,--version-script=${script})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
endfunction()
