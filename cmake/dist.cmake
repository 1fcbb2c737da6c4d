# The programs that travel in packages (launcher, unzip utility, update tool, demo wrapper, vendor
# utility stand-in), linked statically into build/dist/ARCH/. Each processor is a second
# configuration of this source tree in build/dist-build/ARCH with ZAV_DIST_ARCH set; it is rebuilt
# (a no-op when up to date) with every build.
#
# x86_64 is always built. i386 is optional: it needs gcc's 32-bit libraries (g++-multilib), a
# 32-bit zlib (lib32z1-dev, /usr/lib32/libz.a) and a 32-bit static minizip, which tools/install-deps.sh
# unpacks into .deps/i386 without installing a foreign-architecture package. Where one of them is
# missing the i386 programs are left out with one line that says what to get.
include(ExternalProject)

set(ZAV_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(ZAV_DIST_PROGRAMS pkgstub pkgunzip nicburn kickoff fwsim)

set(ZAV_DIST_I386 AUTO CACHE STRING "Build the i386 package programs: AUTO (when the 32-bit libraries are there), ON or OFF")
set_property(CACHE ZAV_DIST_I386 PROPERTY STRINGS AUTO ON OFF)
set(ZAV_I386_DEPS_DIR ${PROJECT_SOURCE_DIR}/.deps/i386 CACHE PATH
    "Folder install-deps.sh unpacks the 32-bit minizip into")

# Looks for what the i386 build links; sets ZAV_I386_MISSING to what is not there.
function(zav_find_i386_libraries)
  set(missing "")
  find_file(ZAV_I386_MINIZIP_A libminizip.a
            PATHS ${ZAV_I386_DEPS_DIR}/usr/lib/i386-linux-gnu /usr/lib/i386-linux-gnu
            NO_DEFAULT_PATH NO_CACHE)
  find_file(ZAV_I386_ZLIB_A libz.a PATHS /usr/lib32 /usr/lib/i386-linux-gnu NO_DEFAULT_PATH NO_CACHE)
  if(NOT ZAV_I386_MINIZIP_A)
    list(APPEND missing "32-bit minizip (${ZAV_I386_DEPS_DIR}/usr/lib/i386-linux-gnu/libminizip.a)")
  endif()
  if(NOT ZAV_I386_ZLIB_A)
    list(APPEND missing "32-bit zlib (/usr/lib32/libz.a, Debian package lib32z1-dev)")
  endif()
  # gcc's 32-bit run time: a static -m32 C++ program must link.
  set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/zav_m32_probe)
  file(WRITE ${probe}.cpp "#include <string>\nint main(int c, char**) { return std::string(c, 'x').size() == 9; }\n")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -m32 -static ${probe}.cpp -o ${probe}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    list(APPEND missing "gcc's 32-bit libraries (Debian package g++-multilib)")
  endif()
  set(ZAV_I386_MISSING "${missing}" PARENT_SCOPE)
  set(ZAV_I386_MINIZIP_A "${ZAV_I386_MINIZIP_A}" PARENT_SCOPE)
  set(ZAV_I386_ZLIB_A "${ZAV_I386_ZLIB_A}" PARENT_SCOPE)
endfunction()

set(ZAV_DIST_ARCHS x86_64)
if(NOT ZAV_DIST_I386 STREQUAL "OFF")
  zav_find_i386_libraries()
  if(ZAV_I386_MISSING)
    string(REPLACE ";" ", " what "${ZAV_I386_MISSING}")
    if(ZAV_DIST_I386 STREQUAL "ON")
      message(FATAL_ERROR "i386 package programs: missing ${what}; run 'make deps' (tools/install-deps.sh)")
    endif()
    message(STATUS "i386 package programs left out: missing ${what}; 'make deps' (tools/install-deps.sh) gets them")
  else()
    list(PREPEND ZAV_DIST_ARCHS i386)
  endif()
endif()
if(NOT "i386" IN_LIST ZAV_DIST_ARCHS)
  # Programs of an earlier configuration must not be packed or tested as if built now.
  file(REMOVE_RECURSE ${ZAV_DIST_DIR}/i386)
endif()

set(previous "")
set(ZAV_DIST_FILES "")
set(ZAV_DIST_TARGETS "")
foreach(arch ${ZAV_DIST_ARCHS})
  set(out ${ZAV_DIST_DIR}/${arch})
  set(byproducts "")
  foreach(p ${ZAV_DIST_PROGRAMS})
    list(APPEND byproducts ${out}/${p})
  endforeach()
  set(env "")
  set(args -DZAV_DIST_ARCH=${arch} -DZAV_DIST_OUTPUT=${out} -DCMAKE_BUILD_TYPE=Release
           -DPKGSTUB_FTP_HOST=${PKGSTUB_FTP_HOST})
  if(arch STREQUAL "i386")
    # Only the 32-bit archives named here are linked; pkg-config would name the native ones.
    set(env ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR=/nonexistent)
    list(APPEND args -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_LIBRARY_ARCHITECTURE=i386-linux-gnu
                     -DZAV_STATIC_MINIZIP_A=${ZAV_I386_MINIZIP_A} -DZAV_STATIC_ZLIB_A=${ZAV_I386_ZLIB_A})
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
  list(APPEND ZAV_DIST_TARGETS dist_${arch})
  list(APPEND ZAV_DIST_FILES ${byproducts})
  install(PROGRAMS ${byproducts} DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/zav_fwpkg/${arch} COMPONENT tools)
endforeach()
add_custom_target(dist ALL DEPENDS ${ZAV_DIST_TARGETS})
# mkpkg packs these by default.
add_dependencies(mkpkg dist)
