# The programs that travel in packages (launcher, unzip utility, update tool, demo wrapper, vendor
# utility stand-in), linked statically for 32-bit x86 and for x86-64 into build/dist/i386/ and
# build/dist/x86_64/. Each processor is a second configuration of this source tree in
# build/dist-build/ARCH with ZAV_DIST_ARCH set; it is rebuilt (a no-op when up to date) with
# every build. The i386 one compiles with -m32 against Debian's multiarch i386 libraries.
include(ExternalProject)

set(ZAV_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(ZAV_DIST_PROGRAMS pkgstub pkgunzip nicburn kickoff fwsim)
set(previous "")
set(ZAV_DIST_FILES "")
foreach(arch i386 x86_64)
  set(out ${ZAV_DIST_DIR}/${arch})
  set(byproducts "")
  foreach(p ${ZAV_DIST_PROGRAMS})
    list(APPEND byproducts ${out}/${p})
  endforeach()
  set(env "")
  set(args -DZAV_DIST_ARCH=${arch} -DZAV_DIST_OUTPUT=${out} -DCMAKE_BUILD_TYPE=Release
           -DPKGSTUB_FTP_HOST=${PKGSTUB_FTP_HOST})
  if(arch STREQUAL "i386")
    set(env ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR=/usr/lib/i386-linux-gnu/pkgconfig)
    list(APPEND args -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_LIBRARY_ARCHITECTURE=i386-linux-gnu)
  endif()
  ExternalProject_Add(dist_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/dist-build/${arch}
    CONFIGURE_COMMAND ${env} ${CMAKE_COMMAND} -S <SOURCE_DIR> -B <BINARY_DIR> -G ${CMAKE_GENERATOR} ${args}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${ZAV_DIST_PROGRAMS}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${byproducts}
    DEPENDS ${previous}
    USES_TERMINAL_BUILD ON)
  # One processor at a time: each runs its own parallel build.
  set(previous dist_${arch})
  list(APPEND ZAV_DIST_FILES ${byproducts})
  install(PROGRAMS ${byproducts} DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/zav_fwpkg/${arch})
endforeach()
add_custom_target(dist ALL DEPENDS dist_i386 dist_x86_64)
# mkpkg packs these by default.
add_dependencies(mkpkg dist)
