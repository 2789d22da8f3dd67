# kolporta_core_library(name sources...): a static core library without widgets.
function(kolporta_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  # Every conversion between bytes and text is written out.
  target_compile_definitions(${name} PUBLIC QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
endfunction()

# kolporta_test(name sources... LIBS libs...): a Qt Test executable run by CTest
# with a fresh, empty KOLPORTA_HOME of its own.
function(kolporta_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kolporta_test_support Qt6::Test)
  target_compile_definitions(${name} PRIVATE
    KOLPORTA_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    KOLPORTA_BUILD_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/support/with-temp-home $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()

# kolporta_parts(): several people add sources to one library or test folder, each from a
# fragment <part>.cmake of their own beside the CMakeLists.txt, so they never edit the same file.
macro(kolporta_parts)
  foreach(part ${ARGN})
    include(${CMAKE_CURRENT_SOURCE_DIR}/${part}.cmake OPTIONAL)
  endforeach()
endmacro()
