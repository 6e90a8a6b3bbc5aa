# Dependencies of the MinGW cross-build. Debian packages them for Linux only, so:
# - nlohmann-json and CLI11 are header-only and fmt's compiled part is built once from its own
#   headers (as the Linux add-in does), all through a folder that holds just those headers, so
#   that no Linux system header is ever seen by the cross-compiler;
# - pugixml is compiled from its Debian source package, fetched by scripts/setup.sh --windows;
# - GoogleTest is built from Debian's source in /usr/src/googletest.
set(FR_PUGIXML_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/pugixml/src" CACHE PATH "Folder holding pugixml.cpp")
if(NOT EXISTS ${FR_PUGIXML_SOURCE_DIR}/pugixml.cpp)
  message(FATAL_ERROR "pugixml.cpp not found in ${FR_PUGIXML_SOURCE_DIR}: run scripts/setup.sh --windows")
endif()

set(_inc ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_inc})
foreach(_h fmt nlohmann CLI)
  if(NOT EXISTS ${_inc}/${_h})
    file(CREATE_LINK /usr/include/${_h} ${_inc}/${_h} SYMBOLIC)
  endif()
endforeach()

add_library(fr_host_headers INTERFACE)
target_include_directories(fr_host_headers SYSTEM INTERFACE ${_inc})

add_library(fr_fmt STATIC ${PROJECT_SOURCE_DIR}/src/addin/native/FmtStatic.cpp)
target_link_libraries(fr_fmt PUBLIC fr_host_headers)
add_library(fmt::fmt ALIAS fr_fmt)
add_library(nlohmann_json::nlohmann_json ALIAS fr_host_headers)
add_library(CLI11::CLI11 ALIAS fr_host_headers)

add_library(fr_pugixml STATIC ${FR_PUGIXML_SOURCE_DIR}/pugixml.cpp)
target_include_directories(fr_pugixml SYSTEM PUBLIC ${FR_PUGIXML_SOURCE_DIR})
add_library(pugixml::pugixml ALIAS fr_pugixml)
add_library(pugixml::static ALIAS fr_pugixml)

find_package(Threads REQUIRED)

if(FR_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # googletest's own build defines the GTest:: names.
  foreach(_t gtest gtest_main gmock)
    if(NOT TARGET GTest::${_t})
      add_library(GTest::${_t} ALIAS ${_t})
    endif()
  endforeach()
endif()

# Windows 7 and later; windows.h without min/max macros and without the old winsock.h.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
