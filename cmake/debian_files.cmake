# SPDX-License-Identifier: MIT
# What Debian's policy asks of a package beyond the program and its manual:
# the copyright file, the changelog and a lintian override. They form the
# install component `deb`, which only the package takes; `cmake --install`
# into an image root leaves them out, as an image build keeps licences and
# package data its own way.
find_program(MICOM_GZIP gzip REQUIRED)
set(debian_dir ${PROJECT_BINARY_DIR}/debian)

# Text as a Debian control or copyright field continues: each line indented
# by one space, empty lines as " .".
function(micom_debian_indent text out_var)
  string(STRIP "${text}" text)
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text " ${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# The copyright file in Debian's machine-readable format, with the licence
# text of LICENSE.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(FIND "${licence}" "Permission is hereby granted" licence_start)
if(licence_start EQUAL -1)
  message(FATAL_ERROR "LICENSE holds no MIT permission notice")
endif()
string(SUBSTRING "${licence}" ${licence_start} -1 licence)
micom_debian_indent("${licence}" MICOM_LICENSE_TEXT)
configure_file(${PROJECT_SOURCE_DIR}/package/copyright.in ${debian_dir}/copyright @ONLY)

# The changelog of a native package: one entry for the project's version,
# dated SOURCE_DATE_EPOCH, compressed -9n like the manual.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -R -d @${MICOM_SOURCE_DATE_EPOCH}
  OUTPUT_VARIABLE MICOM_PACKAGE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/package/changelog.in ${debian_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${debian_dir}/changelog.gz
  COMMAND ${MICOM_GZIP} -9nkf changelog
  WORKING_DIRECTORY ${debian_dir}
  DEPENDS ${debian_dir}/changelog
  COMMENT "Compressing the package's changelog"
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${debian_dir}/changelog.gz)

install(FILES ${debian_dir}/copyright ${debian_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/package/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME micom
  COMPONENT deb EXCLUDE_FROM_ALL)
