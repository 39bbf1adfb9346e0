# kv_library(NAME [DEPS ...]) — a static library of every .cpp in the calling folder
# (not its sub-folders), with the project root on the include path.
function(kv_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# kv_test(NAME [DEPS ...] [SOURCES ...]) — one GoogleTest executable of every .cpp in the
# calling folder; each test case is registered with CTest.
function(kv_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES;ENV" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES ENVIRONMENT "${ARG_ENV}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "${ARG_ENV}")
  endif()
endfunction()

# kv_header_library(PACKAGE TARGET DIR) — a header-only Debian library (its headers in
# /usr/include/DIR) as the imported target TARGET, visible everywhere. A cross-build does not
# search the host's /usr/include (its C headers must not be mixed in), so it gets a folder that
# holds only a link to the library's own headers.
function(kv_header_library package target dir)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} QUIET)
  endif()
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES IMPORTED_GLOBAL TRUE)
    return()
  endif()
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "${package} is missing (scripts/deps.sh installs it)")
  endif()
  set(link ${CMAKE_BINARY_DIR}/host-headers/${package})
  file(MAKE_DIRECTORY ${link})
  file(CREATE_LINK /usr/include/${dir} ${link}/${dir} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} INTERFACE ${link})
endfunction()
