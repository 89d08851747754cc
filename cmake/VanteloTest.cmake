# One test executable per test source file, named after the file, registered with ctest.
#   vantelo_add_tests(GLOB <pattern> LIBS <libs...> [GUI])
# GUI tests get a QApplication through the shared GUI test main and run offscreen.
function(vantelo_add_tests)
  cmake_parse_arguments(T "GUI" "" "GLOB;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${T_GLOB})
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    get_filename_component(dir ${src} DIRECTORY)
    get_filename_component(folder ${dir} NAME)
    set(target test_${folder}_${name})
    add_executable(${target} ${src})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    if(T_GUI)
      target_link_libraries(${target} PRIVATE ${T_LIBS} vantelo_test_gui_main Qt6::Test GTest::gtest)
    else()
      target_link_libraries(${target} PRIVATE ${T_LIBS} vantelo_test_support GTest::gtest_main)
    endif()
    add_test(NAME ${folder}/${name} COMMAND ${target})
    set_tests_properties(${folder}/${name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;VANTELO_SOURCE_DIR=${CMAKE_SOURCE_DIR};VANTELO_BINARY_DIR=${CMAKE_BINARY_DIR};XDG_STATE_HOME=${CMAKE_BINARY_DIR}/test-state/${target}"
      TIMEOUT 300)
  endforeach()
endfunction()
