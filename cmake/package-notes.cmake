# Read by cpack (CPACK_PROJECT_CONFIG_FILE): says what the package leaves out.
if(CPACK_ZAV_I386_MISSING)
  message(STATUS "zav-fwpkg-tools: no i386 launcher or unzip utility in the package, its mkpkg builds only "
                 "--arch x86_64 packages (${CPACK_ZAV_I386_MISSING}, then 'make package' again to add them)")
endif()
