# `format` rewrites our sources with clang-format; `format-check` fails on any difference.
find_program(CLANG_FORMAT clang-format)
if(CLANG_FORMAT)
  file(GLOB_RECURSE _quillmoss_format_files CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/app/*.h
    ${CMAKE_SOURCE_DIR}/platform/*.cpp ${CMAKE_SOURCE_DIR}/platform/*.h
    ${CMAKE_SOURCE_DIR}/unrar/*.cpp ${CMAKE_SOURCE_DIR}/unrar/*.h
    ${CMAKE_SOURCE_DIR}/extract/*.cpp ${CMAKE_SOURCE_DIR}/extract/*.h
    ${CMAKE_SOURCE_DIR}/instructions/*.cpp ${CMAKE_SOURCE_DIR}/instructions/*.h
    ${CMAKE_SOURCE_DIR}/libunrar/*.cpp ${CMAKE_SOURCE_DIR}/libunrar/*.h
    ${CMAKE_SOURCE_DIR}/tests/*.cpp ${CMAKE_SOURCE_DIR}/tests/*.h
    ${CMAKE_SOURCE_DIR}/bench/*.cpp ${CMAKE_SOURCE_DIR}/bench/*.h
    ${CMAKE_SOURCE_DIR}/tools/*.cpp ${CMAKE_SOURCE_DIR}/tools/*.h)
  add_custom_target(format COMMAND ${CLANG_FORMAT} -i ${_quillmoss_format_files}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  add_custom_target(format-check
    COMMAND ${CLANG_FORMAT} --dry-run --Werror ${_quillmoss_format_files}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endif()
