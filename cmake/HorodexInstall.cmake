# Installation for applications: the libraries, the exported headers with the few headers of the
# codec and platform layers their signatures need (the value types, the platform's certificate
# types, the exception), horodex.pc, the CMake package (find_package(horodex), target
# horodex::horodex) and the tools. The DER reader and writer and the codec's ASN.1 classes stay
# inside: no exported header includes them (the test InstallExample checks the installed set).
#
# Headers go under <prefix>/include/horodex1/, keeping their folders (horodex/, codec/,
# platform/), so that the layer folders' generic names never land directly in /usr/include.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HORODEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/horodex1)
set(HORODEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/horodex)

# horodex_header_closure(OUT): the exported headers of include/horodex (horodex/Errors.h among
# them: the exception and the texts of its codes) and, recursively, every header of the tree they
# include with #include "...", as paths relative to the include root.
function(horodex_header_closure out)
  file(GLOB exported RELATIVE ${PROJECT_SOURCE_DIR}/include
       CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/horodex/*.h)
  set(todo ${exported})
  set(found)
  while(todo)
    list(POP_FRONT todo header)
    if(header IN_LIST found)
      continue()
    endif()
    list(APPEND found ${header})
    if(EXISTS ${PROJECT_SOURCE_DIR}/include/${header})
      set(path ${PROJECT_SOURCE_DIR}/include/${header})
    else()
      set(path ${PROJECT_SOURCE_DIR}/${header})
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} lines REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
      if(EXISTS ${PROJECT_SOURCE_DIR}/include/${included} OR
         EXISTS ${PROJECT_SOURCE_DIR}/${included})
        list(APPEND todo ${included})
      else()
        message(WARNING "${header} includes ${included}, which is not in the tree: an "
                        "application that includes ${header} will not find it")
      endif()
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

horodex_header_closure(horodex_installed_headers)
foreach(header IN LISTS horodex_installed_headers)
  if(EXISTS ${PROJECT_SOURCE_DIR}/include/${header})
    set(path ${PROJECT_SOURCE_DIR}/include/${header})
  else()
    set(path ${PROJECT_SOURCE_DIR}/${header})
  endif()
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${path} DESTINATION ${HORODEX_INSTALL_INCLUDEDIR}/${folder} COMPONENT Development)
endforeach()

target_include_directories(horodex PUBLIC "$<INSTALL_INTERFACE:${HORODEX_INSTALL_INCLUDEDIR}>")
target_compile_features(horodex INTERFACE cxx_std_20)  # the exported headers are C++20

install(TARGETS horodex EXPORT horodexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development)
# The viewer module, when this build has it: loaded by the library at run time, not linked, from
# <libdir>/horodex/ (private to the library, like the proxy helper).
foreach(module IN ITEMS horodex_ui_module)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/horodex
            COMPONENT Runtime NAMELINK_SKIP)
  endif()
endforeach()
install(TARGETS horodex_tool horodex_testtsa RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT Runtime)
# Started by the library for proxy discovery; it looks in <libdir>/horodex/.
install(TARGETS horodex_proxy_helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/horodex
        COMPONENT Runtime)

install(EXPORT horodexTargets NAMESPACE horodex:: DESTINATION ${HORODEX_INSTALL_CMAKEDIR}
        COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/horodexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/horodexConfig.cmake INSTALL_DESTINATION ${HORODEX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/horodexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/horodexConfig.cmake
              ${PROJECT_BINARY_DIR}/horodexConfigVersion.cmake
        DESTINATION ${HORODEX_INSTALL_CMAKEDIR} COMPONENT Development)

# The .pc file finds the prefix from its own place, so an installation can be moved (or made
# with cmake --install --prefix) and still be found.
file(RELATIVE_PATH HORODEX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" HORODEX_PC_TO_PREFIX "${HORODEX_PC_TO_PREFIX}")
# Outside /usr the dynamic linker does not look in the library's folder by itself (and /usr/local
# only after ldconfig): programs built with the .pc file carry its path as their runtime path.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/")
  set(HORODEX_PC_RPATH "")
else()
  set(HORODEX_PC_RPATH "-Wl,-rpath,\${libdir} ")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/horodex.pc.in ${PROJECT_BINARY_DIR}/horodex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/horodex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT Development)
