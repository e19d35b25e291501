# Runs the generators into a scratch directory and requires byte-identical output to the
# committed files: the generators are deterministic and resources/ is up to date.
# Inputs: -DDRUMGEN=... -DARTGEN=... -DWORK=scratch dir -DREFERENCE=resources dir
cmake_minimum_required(VERSION 3.22)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
foreach(tool IN ITEMS "${DRUMGEN}" "${ARTGEN}")
  execute_process(COMMAND "${tool}" "${WORK}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# In sorted order, to compare with the sorted list of what was written.
set(expected BASS1.wav BASS2.wav HAT1.wav HAT2.wav SNARE1.wav SYMBAL1.wav icon.ico icon.svg title.bmp)
file(GLOB produced RELATIVE "${WORK}" "${WORK}/*")
list(SORT produced)
if(NOT produced STREQUAL expected)
  message(FATAL_ERROR "generators wrote [${produced}], expected [${expected}]")
endif()
foreach(name IN LISTS expected)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/${name}" "${REFERENCE}/${name}"
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND stale "${name}")
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "regenerated files differ from resources/: ${stale} (run the regen-resources target)")
endif()
