# kiv_module(<target> [DEPS <targets>...]): a static library of every .cpp in the
# current directory. Modules are linked whole into the shared libraries and singly
# into the unit tests.
function(kiv_module name)
  cmake_parse_arguments(M "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex IN LISTS M_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# kiv_test_dir(<name> LIBS <targets>...): one GoogleTest executable of every .cpp in the
# current directory, registered with CTest. Tests run with the build's run directory
# available as KIV_RUN_DIR and the source tree as KIV_SOURCE_DIR.
function(kiv_test_dir name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    KIV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KIV_BUILD_DIR="${PROJECT_BINARY_DIR}"
    KIV_RUN_DIR="${PROJECT_BINARY_DIR}/run")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
