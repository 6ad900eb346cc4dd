# SPDX-License-Identifier: MIT
# Run by cpack once it has installed the package's files into its staging
# root: writes the control data and builds the .deb with dpkg-deb, so that two
# builds of one commit give the same bytes whatever their umask and time:
# every entry owned by root, mode 0755 or 0644, dated SOURCE_DATE_EPOCH,
# in name order, gzip-compressed.
set(root ${CPACK_TEMPORARY_DIRECTORY})
set(epoch ${CPACK_MICOM_SOURCE_DATE_EPOCH})

file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${root} ${root}/*)
list(SORT entries)
# Installed-Size as dpkg counts it: KiB rounded up per file, 1 per directory.
set(installed_size 0)
set(md5sums "")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${root}/${entry})
    math(EXPR installed_size "${installed_size} + 1")
  else()
    file(SIZE ${root}/${entry} size)
    math(EXPR installed_size "${installed_size} + (${size} + 1023) / 1024")
    file(MD5 ${root}/${entry} md5)
    string(APPEND md5sums "${md5}  ${entry}\n")
  endif()
endforeach()

file(MAKE_DIRECTORY ${root}/DEBIAN)
configure_file(${CPACK_MICOM_SOURCE_DIR}/package/control.in ${root}/DEBIAN/control @ONLY)
file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")

# Directories cpack made itself and the control files follow the umask;
# what the install made has its modes already.
file(CHMOD ${root} ${root}/DEBIAN PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD ${root}/DEBIAN/control ${root}/DEBIAN/md5sums PERMISSIONS
  OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# dpkg-deb only clamps newer times to SOURCE_DATE_EPOCH; older ones (sources
# unpacked with their own times) are set here.
execute_process(COMMAND touch --no-dereference --date=@${epoch} ${root} ${root}/DEBIAN
    ${root}/DEBIAN/control ${root}/DEBIAN/md5sums ${entries}
  WORKING_DIRECTORY ${root}
  COMMAND_ERROR_IS_FATAL ANY)

set(deb ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_NAME}_${CPACK_PACKAGE_VERSION}_${CPACK_MICOM_DEB_ARCHITECTURE}.deb)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}
    dpkg-deb --root-owner-group -Zgzip -z9 --build ${root} ${deb}
  OUTPUT_QUIET
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${deb})
