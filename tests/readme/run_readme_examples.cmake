# Runs the ```sh blocks of README (the examples a reader copies) one by one with bash -e, from
# SOURCE_DIR, with PATH_DIRS in front of PATH. Fails on the first block that fails, naming it.
# The ```bash blocks (set-up and build commands) are not run here: the test suite runs them.
file(READ "${README}" text)
string(REPLACE ";" "\\;" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(in_block OFF)
set(block "")
set(count 0)
file(MAKE_DIRECTORY "${WORK_DIR}")
foreach(line IN LISTS lines)
  if(NOT in_block AND line STREQUAL "```sh")
    set(in_block ON)
    set(block "set -e -o pipefail\nexport PATH=\"${PATH_DIRS}:$PATH\"\n")
  elseif(in_block AND line STREQUAL "```")
    set(in_block OFF)
    math(EXPR count "${count} + 1")
    file(WRITE "${WORK_DIR}/example${count}.sh" "${block}")
    execute_process(COMMAND bash "${WORK_DIR}/example${count}.sh"
      WORKING_DIRECTORY "${SOURCE_DIR}"
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "README example block ${count} failed (exit ${rc}):\n${block}\n"
                          "--- output ---\n${out}\n--- errors ---\n${err}")
    endif()
    message(STATUS "README example block ${count} ran")
  elseif(in_block)
    set(block "${block}${line}\n")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no ```sh example block found in ${README}")
endif()
