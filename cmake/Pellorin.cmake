# Helpers shared by every folder, so that a subsystem adds its tests, fuzz targets
# and benchmarks with one call each.

get_filename_component(PELLORIN_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# pellorin_add_test(NAME name SOURCES ... LIBS ... [QT])
# One GoogleTest executable; each test case becomes a CTest test.
function(pellorin_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS" ${ARGN})
  if(PELLORIN_FUZZ OR NOT T_SOURCES)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    PELLORIN_TEST_DATA="${PELLORIN_SOURCE_DIR}/tests/data"
    PELLORIN_SOURCE_DIR="${PELLORIN_SOURCE_DIR}")
  set(env "")
  if(T_QT)
    set(env "QT_QPA_PLATFORM=offscreen")
    target_sources(${T_NAME} PRIVATE ${PELLORIN_SOURCE_DIR}/tests/private_config_home.cpp)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 120 TEST_PREFIX "${T_NAME}."
                       PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
endfunction()

# pellorin_add_fuzzer(NAME fuzz_x SOURCES ... LIBS ...)
# In the fuzz tree (PELLORIN_FUZZ=ON) builds the libFuzzer binary. In the normal
# tree, when PELLORIN_FUZZ_DIR names a fuzz tree, registers a CTest test that runs
# that binary for PELLORIN_FUZZ_SECONDS.
function(pellorin_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(PELLORIN_FUZZ)
    add_executable(${F_NAME} ${F_SOURCES})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    # The fuzz tree builds only what the fuzzers need.
    if(NOT TARGET fuzzers)
      add_custom_target(fuzzers)
    endif()
    add_dependencies(fuzzers ${F_NAME})
  elseif(PELLORIN_FUZZ_DIR)
    add_test(NAME ${F_NAME}
             COMMAND ${PELLORIN_SOURCE_DIR}/scripts/run-fuzzer ${PELLORIN_FUZZ_DIR}/fuzz/${F_NAME}
                     ${PELLORIN_FUZZ_SECONDS})
    set_tests_properties(${F_NAME} PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# pellorin_add_bench(NAME name SOURCES ... LIBS ...)
function(pellorin_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT PELLORIN_BUILD_BENCH)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# pellorin_core_sources(): adds every .cpp of the calling folder (not its ui/
# subfolder) to the core library.
function(pellorin_core_sources)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  target_sources(pellorin_core PRIVATE ${srcs})
endfunction()

# pellorin_ui_sources(): adds every .cpp/.h of the calling ui/ folder to the Qt
# widget library that the desktop program links.
function(pellorin_ui_sources)
  if(NOT PELLORIN_BUILD_UI)
    return()
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  target_sources(pellorin_ui PRIVATE ${srcs})
endfunction()

# pellorin_install_library(TARGET name HEADER file DESCRIPTION text
#                          [REQUIRES_PRIVATE module...])
# Installs one of the shared libraries with its public header (as
# <includedir>/<name>/<header>) and a pkg-config file <name>.pc, so that other
# programs build against it with `pkg-config --cflags --libs <name>` and
# `#include <name/header>`. The .pc file finds its prefix from its own place,
# so the installed tree can be moved (cmake --install --prefix, packages).
function(pellorin_install_library)
  cmake_parse_arguments(L "" "TARGET;HEADER;DESCRIPTION" "REQUIRES_PRIVATE" ${ARGN})
  if(PELLORIN_FUZZ)
    return()
  endif()
  include(GNUInstallDirs)
  install(TARGETS ${L_TARGET} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${L_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${L_TARGET})

  set(pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  else()
    file(RELATIVE_PATH up /p/${pcdir} /p)
    string(REGEX REPLACE "/$" "" up "${up}")
    set(PC_PREFIX "\${pcfiledir}/${up}")
    set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  endif()
  if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
  else()
    set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  set(PC_NAME ${L_TARGET})
  set(PC_DESCRIPTION "${L_DESCRIPTION}")
  set(PC_REQUIRES_LINE "")
  if(L_REQUIRES_PRIVATE)
    string(JOIN " " requires ${L_REQUIRES_PRIVATE})
    set(PC_REQUIRES_LINE "Requires.private: ${requires}\n")
  endif()
  configure_file(${PELLORIN_SOURCE_DIR}/cmake/library.pc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${L_TARGET}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${L_TARGET}.pc DESTINATION ${pcdir})
endfunction()
