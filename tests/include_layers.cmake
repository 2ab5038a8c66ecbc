# The layers' include rules: which folders and headers the files of each
# folder may include (#include "..."; the paths are written from the top of
# the tree). A file is ruled by the longest folder of the table that holds
# it. Run as `cmake -DROOT=<tree> -P include_layers.cmake`; every include
# that breaks a rule is printed, and the run fails.
#
#   hostapi/         the host's interface: nothing of the plug-in or the host
#   plugin/runtime/  the runtime: only itself
#   plugin/          the frame: the host's interface, the runtime, and the two
#                    entries into the layers it starts (the guards, the command)
#   binding/         the host's interface, the frame's HostQuery and title,
#                    the service declarations and the formatter
#   mmimport/        the host's interface, the service declarations and the
#                    formatter; nothing of the binding layer
#   host/            the stand-in host: only itself and the host's interface
set(rules
  "hostapi/=hostapi/"
  "plugin/runtime/=plugin/runtime/"
  "plugin/=plugin/,hostapi/,binding/api_guards.h,mmimport/command.h"
  "binding/=binding/,hostapi/,plugin/plugin.h,plugin/host_services.h,plugin/runtime/format.h"
  "mmimport/=mmimport/,hostapi/,plugin/host_services.h,plugin/runtime/format.h"
  "host/=host/,hostapi/")

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree> -P include_layers.cmake")
endif()

set(broken 0)
set(checked 0)
foreach(folder hostapi plugin binding mmimport host)
  file(GLOB_RECURSE files RELATIVE ${ROOT}
       ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.S ${ROOT}/${folder}/*.inc)
  if(NOT files)
    message(SEND_ERROR "no sources found under ${ROOT}/${folder}")
  endif()
  foreach(file ${files})
    # The longest folder of the table that holds the file.
    set(allowed "")
    set(ruleLength 0)
    foreach(rule ${rules})
      string(REPLACE "=" ";" parts "${rule}")
      list(GET parts 0 ruled)
      list(GET parts 1 list)
      string(LENGTH "${ruled}" length)
      string(FIND "${file}" "${ruled}" at)
      if(at EQUAL 0 AND length GREATER ruleLength)
        string(REPLACE "," ";" allowed "${list}")
        set(ruleLength ${length})
      endif()
    endforeach()
    file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
      math(EXPR checked "${checked} + 1")
      set(ok FALSE)
      foreach(prefix ${allowed})
        string(FIND "${included}" "${prefix}" at)
        if(at EQUAL 0)
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        message("${file}: includes \"${included}\", outside its layer")
        set(broken 1)
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no #include lines found: nothing was checked")
endif()
if(broken)
  message(FATAL_ERROR "includes outside their layer (rules at the top of ${CMAKE_CURRENT_LIST_FILE})")
endif()
message("every include keeps to its layer")
