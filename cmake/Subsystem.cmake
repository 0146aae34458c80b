# A subsystem folder puts its Qt-free sources (*.cpp) into the core library and its widget code
# (gui/*.cpp) into calvora_gui, which exists only when Qt 6 was found.
function(calvora_subsystem_sources)
  file(GLOB core_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(core_sources)
    target_sources(calvora_core PRIVATE ${core_sources})
  endif()
  if(TARGET calvora_gui)
    file(GLOB gui_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/gui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/gui/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/gui/*.qrc)
    if(gui_sources)
      target_sources(calvora_gui PRIVATE ${gui_sources})
    endif()
  endif()
endfunction()
