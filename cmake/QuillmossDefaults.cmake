# Compile settings shared by every target of our own.
set(QUILLMOSS_SANITIZE "" CACHE STRING "Sanitizers for our targets, e.g. address;undefined")

function(quillmoss_target_defaults target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
    $<$<CONFIG:Debug>:-Werror>)
  if(QUILLMOSS_SANITIZE)
    list(JOIN QUILLMOSS_SANITIZE "," _san)
    target_compile_options(${target} PRIVATE -fsanitize=${_san} -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${_san})
  endif()
endfunction()

# A .cpp that includes a generated ui_*.h must be rebuilt when its .ui changes.
function(quillmoss_ui_depends source ui)
  set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS ${ui})
endfunction()

# Copies a data file next to the executable at build time.
function(quillmoss_ship_beside_executable target file)
  get_filename_component(_name ${file} NAME)
  # The install rules ship every such file beside the installed executable too.
  set_property(GLOBAL APPEND PROPERTY QUILLMOSS_SHIPPED_FILES ${file})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${QUILLMOSS_BIN_DIR}/${_name})
endfunction()
