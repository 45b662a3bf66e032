# Fails when a folder of src/ includes a header of a higher layer. Layers, bottom up:
#   0 core          shared state, catalogue, platform interfaces
#   1 serial        the serial port component and its device layers
#   2 link, bootloader, firmware, devices   the subsystems
#   3 app           the main window's logic and the platform implementations
#   4 cli, gui, wingui, resources           the front ends
# The demonstration under tools/ (used by the front ends) counts as layer 3.
# Run with -DSRC=<the src folder>.
set(rank_core 0)
set(rank_serial 1)
foreach(f link bootloader firmware devices)
  set(rank_${f} 2)
endforeach()
set(rank_app 3)
set(rank_tools 3)
foreach(f cli gui wingui resources)
  set(rank_${f} 4)
endforeach()

file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
set(bad "")
foreach(file ${files})
  string(REGEX MATCH "^[^/]+" folder "${file}")
  if(NOT DEFINED rank_${folder})
    string(APPEND bad "  ${file}: folder ${folder} has no layer\n")
    continue()
  endif()
  file(STRINGS ${SRC}/${file} includes REGEX "^#include \"[a-z]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
    if(NOT DEFINED rank_${target})
      string(APPEND bad "  ${file}: includes ${target}/, which has no layer\n")
    elseif(rank_${target} GREATER rank_${folder})
      string(APPEND bad "  ${file} (${folder}, layer ${rank_${folder}}) includes ${target}/ (layer ${rank_${target}})\n")
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Includes that point up:\n${bad}")
endif()
list(LENGTH files n)
message(STATUS "layers point down: ${n} files")
