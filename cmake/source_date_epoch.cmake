# SPDX-License-Identifier: MIT
# MICOM_SOURCE_DATE_EPOCH: the date of what the build makes that carries one
# (the package's changelog and time stamps), read once, when the tree is
# configured: SOURCE_DATE_EPOCH when it is set, else the time of the last
# commit of this source tree. Empty when there is neither (a copy of the
# sources without their git history).
set(MICOM_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(MICOM_SOURCE_DATE_EPOCH STREQUAL "")
  # Only the history of this tree counts, not that of a repository the
  # sources were unpacked into (as in an image build's work directory).
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --show-toplevel
    OUTPUT_VARIABLE git_top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_dir)
  if(git_top STREQUAL source_dir)
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE MICOM_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endif()
if(NOT MICOM_SOURCE_DATE_EPOCH MATCHES "^[0-9]*$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is no count of seconds: ${MICOM_SOURCE_DATE_EPOCH}")
endif()
