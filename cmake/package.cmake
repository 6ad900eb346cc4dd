# SPDX-License-Identifier: MIT
# `cpack` in a build tree makes the Debian package of micom for that tree's
# architecture (armhf in the ARM build): the program, its manual and the files
# of the `deb` component. cpack installs them into a staging root and
# cmake/make_deb.cmake builds the .deb from there with dpkg-deb: cpack's own
# DEB generator takes the modes of its ar members from the umask, so two
# builds of one commit could differ.
set(MICOM_PACKAGE_MAINTAINER "micom authors <authors@micom.invalid>" CACHE STRING
  "Maintainer of the Debian package, as: Name <address>")

include(cmake/source_date_epoch.cmake)
if(NOT MICOM_SOURCE_DATE_EPOCH)
  message(WARNING "No SOURCE_DATE_EPOCH and no git history to date the Debian "
    "package with: it is not set up. Set SOURCE_DATE_EPOCH to make it.")
  return()
endif()
include(cmake/debian_files.cmake)

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(CPACK_MICOM_DEB_ARCHITECTURE armhf)
else()
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE CPACK_MICOM_DEB_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/make_deb.cmake)
set(CPACK_PACKAGE_NAME micom)
set(CPACK_PACKAGE_CONTACT "${MICOM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/package/description)
file(READ ${PROJECT_SOURCE_DIR}/package/description description)
micom_debian_indent("${description}" CPACK_MICOM_DEB_DESCRIPTION)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# The program and its manual (the default component), then Debian's files.
set(CPACK_INSTALL_CMAKE_PROJECTS
  ${CMAKE_BINARY_DIR} micom Unspecified /
  ${CMAKE_BINARY_DIR} micom deb /)
set(CPACK_MICOM_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_MICOM_SOURCE_DATE_EPOCH ${MICOM_SOURCE_DATE_EPOCH})
include(CPack)
