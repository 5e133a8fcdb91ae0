# Runs at install time (from cmake_install.cmake): writes the desktop entry and the
# file-manager launchers with the command that starts the installed program, then
# installs them. Under /usr and /usr/local the program is on every session's PATH and
# is named bare; under any other prefix (~/.local, /opt/...) by its absolute path, so a
# launcher works whatever PATH the desktop session has.
#
# Expects QUILLMOSS_PACKAGING_DIR, QUILLMOSS_STAGE_DIR and QUILLMOSS_INSTALL_DATADIR;
# CMAKE_INSTALL_PREFIX is the prefix being installed to.

cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_PREFIX NORMALIZE OUTPUT_VARIABLE _prefix)
string(REGEX REPLACE "(.)/+$" "\\1" _prefix "${_prefix}")
if(_prefix STREQUAL "/usr" OR _prefix STREQUAL "/usr/local")
  set(_program quillmoss)
else()
  set(_program "${_prefix}/bin/quillmoss")
endif()

# A desktop entry's Exec value: a program path with reserved characters goes in double
# quotes with ", `, $ and \ escaped; "%" is doubled as a field code would otherwise start;
# then the string-level escape of the key file doubles every backslash.
set(_exec "${_program}")
string(REPLACE "%" "%%" _exec "${_exec}")
if(NOT _exec MATCHES "^[A-Za-z0-9_./+@%,:-]+$")
  string(REPLACE "\\" "\\\\" _exec "${_exec}")
  string(REPLACE "\"" "\\\"" _exec "${_exec}")
  string(REPLACE "`" "\\`" _exec "${_exec}")
  string(REPLACE "$" "\\$" _exec "${_exec}")
  set(_exec "\"${_exec}\"")
endif()
string(REPLACE "\\" "\\\\" _exec "${_exec}")

# A word for the POSIX shell (the Nautilus script) and for Thunar's command line, which
# follows the shell's quoting.
set(_sh "${_program}")
if(NOT _sh MATCHES "^[A-Za-z0-9_./+@%,:-]+$")
  string(REPLACE "'" "'\\''" _sh "${_sh}")
  set(_sh "'${_sh}'")
endif()
set(_sh_xml "${_sh}")
string(REPLACE "&" "&amp;" _sh_xml "${_sh_xml}")
string(REPLACE "<" "&lt;" _sh_xml "${_sh_xml}")
string(REPLACE ">" "&gt;" _sh_xml "${_sh_xml}")

# Staged per prefix, so installing to two prefixes from one build tree cannot mix them.
string(MD5 _prefix_hash "${_prefix}")
set(_stage "${QUILLMOSS_STAGE_DIR}/${_prefix_hash}")
file(REMOVE_RECURSE "${_stage}")

# Replaces every `marker` line start in `source` and writes the result to `_stage/name`.
function(_quillmoss_launcher source name marker replacement)
  file(READ "${source}" _text)
  string(FIND "${_text}" "${marker}" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "${source}: no \"${marker}\" to point at the installed program")
  endif()
  string(REPLACE "${marker}" "${replacement}" _text "${_text}")
  file(WRITE "${_stage}/${name}" "${_text}")
endfunction()

set(_pkg "${QUILLMOSS_PACKAGING_DIR}")
set(_fm "${_pkg}/filemanagers")
_quillmoss_launcher("${_pkg}/quillmoss.desktop" quillmoss.desktop
  "\nExec=quillmoss " "\nExec=${_exec} ")
_quillmoss_launcher("${_fm}/dolphin/quillmoss-extract.desktop" quillmoss-extract.desktop
  "\nExec=quillmoss " "\nExec=${_exec} ")
_quillmoss_launcher("${_fm}/nautilus/Extract!" "Extract!"
  "\nprogram=quillmoss\n" "\nprogram=${_sh}\n")
_quillmoss_launcher("${_fm}/thunar/quillmoss-extract.xml" quillmoss-extract.xml
  "<command>quillmoss " "<command>${_sh_xml} ")

set(_share "${CMAKE_INSTALL_PREFIX}/${QUILLMOSS_INSTALL_DATADIR}")
set(_rw_r_r OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(_rwx_rx_rx ${_rw_r_r} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
file(INSTALL "${_stage}/quillmoss.desktop" DESTINATION "${_share}/applications"
  FILE_PERMISSIONS ${_rw_r_r})
# KDE runs a service menu from a user's own folder only when it is executable.
file(INSTALL "${_stage}/quillmoss-extract.desktop" DESTINATION "${_share}/kio/servicemenus"
  FILE_PERMISSIONS ${_rwx_rx_rx})
file(INSTALL "${_stage}/Extract!" DESTINATION "${_share}/quillmoss/nautilus"
  FILE_PERMISSIONS ${_rwx_rx_rx})
file(INSTALL "${_stage}/quillmoss-extract.xml" DESTINATION "${_share}/quillmoss/thunar"
  FILE_PERMISSIONS ${_rw_r_r})
file(INSTALL "${_fm}/enable-context-menus.sh" DESTINATION "${_share}/quillmoss"
  FILE_PERMISSIONS ${_rwx_rx_rx})
file(REMOVE_RECURSE "${_stage}")

# A direct install (not staged for a package, whose own scripts do this) refreshes the
# caches that make the entry the RAR handler and show its icon. An icon cache is only
# updated where one exists: a new cache would hide icons installed later without one.
if("$ENV{DESTDIR}" STREQUAL "")
  find_program(_update_desktop_database update-desktop-database)
  if(_update_desktop_database)
    execute_process(COMMAND "${_update_desktop_database}" -q "${_share}/applications")
  endif()
  find_program(_gtk_update_icon_cache gtk-update-icon-cache)
  if(_gtk_update_icon_cache AND EXISTS "${_share}/icons/hicolor/icon-theme.cache")
    execute_process(COMMAND "${_gtk_update_icon_cache}" -q -t -f "${_share}/icons/hicolor")
  endif()
endif()
