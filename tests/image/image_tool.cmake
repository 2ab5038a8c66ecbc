# tolmar_image, the checks on the built image (tests/image) over the one
# reader of the PE file (host/pe_file.cpp), built with the build machine's
# own compiler: the DLL's link runs its post-link patch, and the test
# dll_image runs its checks. TOLMAR_IMAGE_TOOL names the program, the target
# tolmar_image builds it.
include_guard(GLOBAL)
find_program(TOLMAR_NATIVE_CXX NAMES g++ c++ clang++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(TOLMAR_IMAGE_TOOL ${CMAKE_BINARY_DIR}/native/tolmar_image CACHE INTERNAL "")
set(dir ${CMAKE_CURRENT_LIST_DIR})
set(root ${PROJECT_SOURCE_DIR})
set(sources
  ${dir}/all.cpp ${root}/host/pe_file.h ${root}/host/pe_file.cpp ${dir}/check.h ${dir}/check.cpp
  ${dir}/expected.h ${dir}/shape_cases.cpp ${dir}/catalogue_cases.cpp
  ${dir}/delay_import_cases.cpp ${dir}/guard_cases.cpp ${dir}/relocation_cases.cpp
  ${dir}/form_table_cases.cpp ${dir}/text_cases.cpp ${dir}/resource_cases.cpp
  ${dir}/tolmar_image.cpp)
add_custom_command(OUTPUT ${TOLMAR_IMAGE_TOOL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/native
  COMMAND ${TOLMAR_NATIVE_CXX} -std=c++20 -O1 -Wall -Wextra
          -DTOLMAR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} -DTOLMAR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
          -DTOLMAR_VERSION_PATCH=${PROJECT_VERSION_PATCH}
          -I${root} ${dir}/all.cpp -o ${TOLMAR_IMAGE_TOOL}
  DEPENDS ${sources}
  COMMENT "Building the native image tool" VERBATIM)
add_custom_target(tolmar_image ALL DEPENDS ${TOLMAR_IMAGE_TOOL})
