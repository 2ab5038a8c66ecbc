set(TOLMAR_BINDING_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/entry_thunks.S
  ${CMAKE_CURRENT_LIST_DIR}/bind.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api_guards.S
  ${CMAKE_CURRENT_LIST_DIR}/api_guards.cpp)

# Host entries' fallbacks and the delay-load redirection.
list(APPEND TOLMAR_BINDING_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/fallback_stubs.S
  ${CMAKE_CURRENT_LIST_DIR}/delay_imports.S
  ${CMAKE_CURRENT_LIST_DIR}/delay_load.cpp)

# What the DLL's link needs besides its sources: the import library of
# PAKTO.dll (the module-handle cells' atomic exchange), and, after the link,
# the delay-import directory in the PE header, which GNU ld does not fill in
# (written by the image reader, tests/image).
# plugin/CMakeLists.txt calls it for the Tolmar target.
function(tolmar_link_binding target)
  find_program(TOLMAR_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
  set(def ${PROJECT_SOURCE_DIR}/host/pakto/pakto_import.def)
  set(implib ${CMAKE_CURRENT_BINARY_DIR}/libpakto.a)
  # dlltool names the library's symbols after the path given to -l: a bare
  # file name keeps the build folder out of the DLL.
  add_custom_command(OUTPUT ${implib}
    COMMAND ${TOLMAR_DLLTOOL} -k -d ${def} -l libpakto.a
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DEPENDS ${def} VERBATIM)
  add_custom_target(${target}_pakto_import DEPENDS ${implib})
  add_dependencies(${target} ${target}_pakto_import)
  target_link_libraries(${target} PRIVATE ${implib})
  include(${PROJECT_SOURCE_DIR}/tests/image/image_tool.cmake)
  add_dependencies(${target} tolmar_image)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${TOLMAR_IMAGE_TOOL} set-delay-import-dir $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
