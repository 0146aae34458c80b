# Every subsystem folder is a library of its own that links only what it may use (the table in README.md, which
# tests/structure checks against every #include). Its Qt-free sources (*.cpp) make calvora_<name>; its widget
# code (gui/) makes calvora_<name>_gui, which exists only when Qt 6 was found. calvora_core and calvora_gui
# gather them for the programs and the tests.

# calvora_library(<target> DEPENDS <targets...>): this folder's *.cpp.
function(calvora_library target)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  calvora_target_settings(${target})
  target_link_libraries(calvora_core INTERFACE ${target})
  set_property(GLOBAL APPEND PROPERTY CALVORA_CORE_LIBRARIES ${target})
endfunction()

# calvora_gui_library(<target> DEPENDS <targets...>): this folder's gui/ sources; nothing without Qt.
function(calvora_gui_library target)
  if(NOT TARGET calvora_gui)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/gui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/gui/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/gui/*.qrc)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS} Qt6::Widgets)
  target_compile_definitions(${target} PUBLIC QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII
                             QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
  calvora_target_settings(${target})
  target_link_libraries(calvora_gui INTERFACE ${target})
endfunction()
