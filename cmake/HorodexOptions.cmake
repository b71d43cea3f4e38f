# Warnings, sanitizers and fuzzing flags shared by every target of the tree.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual)
if(HORODEX_WERROR)
  add_compile_options(-Werror)
endif()

if(HORODEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(HORODEX_TSAN)
  if(HORODEX_SANITIZE OR HORODEX_FUZZ)
    message(FATAL_ERROR "HORODEX_TSAN cannot be combined with HORODEX_SANITIZE or HORODEX_FUZZ")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(HORODEX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HORODEX_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# horodex_layer(NAME DIRS dirs... DEPENDS deps...): the objects of one layer, every .cpp under
# its folders; they all end up in libhorodex.so.1. DEPENDS names the layers below it.
function(horodex_layer name)
  cmake_parse_arguments(L "" "" "DIRS;DEPENDS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS L_DIRS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    # A layer that has no code yet still makes a target, so that others can name it.
    set(sources ${PROJECT_BINARY_DIR}/empty_${name}.cpp)
    file(WRITE ${sources} "// ${name} has no sources yet.\n")
  endif()
  add_library(${name} OBJECT ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${L_DEPENDS})
endfunction()
