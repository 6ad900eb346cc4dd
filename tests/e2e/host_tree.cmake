# SPDX-License-Identifier: MIT
# cmake -DSOURCE_DIR=... -DHOST_DIR=... -P host_tree.cmake
# Makes the native tree whose micom-sim and end-to-end tests a cross build's
# e2e run takes: configured by the native preset when it is not yet, then
# built as far as those two need.
if(NOT EXISTS "${HOST_DIR}/CMakeCache.txt")
  execute_process(COMMAND ${CMAKE_COMMAND} --preset native -B ${HOST_DIR}
    WORKING_DIRECTORY ${SOURCE_DIR} COMMAND_ERROR_IS_FATAL ANY)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${HOST_DIR} --parallel 2 --target micom-sim micom_e2e_tests
  COMMAND_ERROR_IS_FATAL ANY)
