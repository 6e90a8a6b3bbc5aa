# Warnings and sanitizers are set per target, never globally, so that
# third-party code is not affected.
function(fr_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(FR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(FR_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(FR_TSAN)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
  if(FR_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
  endif()
endfunction()

# A layer library from every source file of its folder.
function(fr_layer_library name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    # A layer that has only headers so far still gets a library of its own.
    set(_srcs ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${_srcs} "// no sources yet\n")
  endif()
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  fr_target_defaults(${name})
endfunction()

# One test executable per folder of tests/. On Windows the files named in FR_POSIX_ONLY_TESTS
# (set by the folder: they need the simulator, a pseudo-terminal or POSIX sockets) are left out,
# and the executable is one test run under the emulator (wine): discovering the cases would start
# wine once more per executable at build time.
function(fr_test_folder name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    foreach(_f ${FR_POSIX_ONLY_TESTS})
      list(REMOVE_ITEM _srcs ${CMAKE_CURRENT_SOURCE_DIR}/${_f})
    endforeach()
  endif()
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gmock GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  fr_target_defaults(${name})
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()
