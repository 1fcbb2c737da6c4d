# The Debian package of the tools package authors and fleet operators run on their own machines
# (`make package`, i.e. cpack in the build folder): mkpkg with the static programs it packs,
# nicreport, the Ansible role, the manual pages and README. It holds exactly the install rules of
# component "tools", laid out for prefix /usr; the rest of `cmake --install` (pkgstub, nicburn,
# nicburn-ppc and fwsim on PATH) is for this checkout and stays out of the package.
# CPack's DEB generator, not debhelper: the install rules already are the layout, the version
# comes from project(VERSION), and no second build description has to be kept in step.
set(ZAV_PACKAGE_NAME zav-fwpkg-tools)
set(ZAV_PACKAGE_MAINTAINER "zav firmware tools <fwtools@zav.example>" CACHE STRING
    "Maintainer field (name <address>) of the Debian package")
set(ZAV_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZAV_PACKAGE_NAME})
set(ZAV_PACKAGE_SRC ${PROJECT_SOURCE_DIR}/packaging/debian)
set(ZAV_PACKAGE_OUT ${CMAKE_BINARY_DIR}/packaging)

# The static programs are installed by dist.cmake as plain files, which `--strip` (and cpack)
# leaves alone: strip them, and mkpkg again, the way Debian's dh_strip does (also without the
# .comment section). The build's own copies keep their symbols.
set(strip_files "${CMAKE_INSTALL_BINDIR}/mkpkg")
foreach(arch ${ZAV_DIST_ARCHS})
  foreach(p ${ZAV_DIST_PROGRAMS})
    list(APPEND strip_files "${CMAKE_INSTALL_LIBEXECDIR}/zav_fwpkg/${arch}/${p}")
  endforeach()
endforeach()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(f ${strip_files})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${f}\"
                      RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR \"cannot strip '\${f}'\")
      endif()
    endforeach()
  endif()" COMPONENT tools)

# The Ansible role where Ansible looks for system roles; the playbook as an example to copy.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/deploy/ansible/roles/nic_firmware
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/ansible/roles COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/ansible/rollout.yml
        DESTINATION ${ZAV_PACKAGE_DOCDIR}/examples COMPONENT tools)

# Documentation: README, copyright, a Debian changelog for this version (dated at configure time,
# or SOURCE_DATE_EPOCH; gzip -9n keeps time stamps out of the gzip header), lintian overrides.
string(TIMESTAMP ZAV_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${ZAV_PACKAGE_SRC}/changelog.in ${ZAV_PACKAGE_OUT}/changelog @ONLY)
add_custom_command(
  OUTPUT ${ZAV_PACKAGE_OUT}/changelog.gz
  COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${ZAV_PACKAGE_OUT}/changelog ${ZAV_PACKAGE_OUT}/changelog.gz
  DEPENDS ${ZAV_PACKAGE_OUT}/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${ZAV_PACKAGE_OUT}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${ZAV_PACKAGE_SRC}/copyright ${ZAV_PACKAGE_OUT}/changelog.gz
        DESTINATION ${ZAV_PACKAGE_DOCDIR} COMPONENT tools)
install(FILES ${ZAV_PACKAGE_SRC}/lintian-overrides RENAME ${ZAV_PACKAGE_NAME}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT tools)

# Which processors' static programs the package carries; `make package` says when i386 is missing.
# (CPACK_ZAV_I386_MISSING: why they are missing and what to do; empty when they are there.)
if("i386" IN_LIST ZAV_DIST_ARCHS)
  set(CPACK_ZAV_I386_MISSING "")
elseif(ZAV_DIST_I386 STREQUAL "OFF")
  set(CPACK_ZAV_I386_MISSING "the build was configured with ZAV_DIST_I386=OFF; configure it with -DZAV_DIST_I386=AUTO")
else()
  string(REPLACE ";" ", " CPACK_ZAV_I386_MISSING "missing ${ZAV_I386_MISSING}; run 'make deps' (tools/install-deps.sh)")
endif()
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package-notes.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};tools;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_NAME ${ZAV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZAV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZAV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# mkpkg's shared libraries (minizip, zlib, the C++ run time) come from dpkg-shlibdeps; nicreport
# runs on Debian's python3; the role needs Ansible only on the machine that rolls out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ansible-core")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "build and roll out self-extracting Ethernet firmware packages
mkpkg builds a firmware package (one executable file: launcher, unzip
utility, zip image and boot configuration) from a content folder, and
inspects or takes apart existing ones. The static launchers and unzip
utilities it packs are included for x86-64 and, when built, i386.
.
The Ansible role nic_firmware runs a package on every host of a fleet and
fetches its logs; nicreport turns the collected logs into one HTML page,
JSON and CSV.")
include(CPack)
