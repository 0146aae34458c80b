# Warnings, sanitizers and debug assertions shared by every target of the project.
function(calvora_target_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CALVORA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_definitions(${target} PRIVATE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
endfunction()

if(CALVORA_SANITIZE)
  add_compile_options(-fsanitize=${CALVORA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${CALVORA_SANITIZE})
endif()
