# Install rules and the Debian package.
#
# Layout under the prefix:
#   lib/quillmoss/   the program, libunrar.so and every data file it reads beside itself
#   bin/quillmoss    relative link to ../lib/quillmoss/quillmoss; the program finds its
#                    folder through /proc/self/exe, which resolves the link
#   share/applications/quillmoss.desktop, share/icons/hicolor/*/apps/quillmoss.*,
#   share/kio/servicemenus/ (Dolphin), share/quillmoss/ (Nautilus script, Thunar action
#   and the script that enables both for a user)
if(NOT TARGET quillmoss)
  return()
endif()

include(GNUInstallDirs)

set(QUILLMOSS_INSTALL_PROGRAM_DIR lib/quillmoss)
set(_packaging ${CMAKE_SOURCE_DIR}/packaging)

# The program dlopen()s libunrar.so from its own folder by absolute path, and its other
# libraries come from the system: an installed binary carries no RPATH at all.
set_target_properties(quillmoss PROPERTIES INSTALL_RPATH "")
install(TARGETS quillmoss RUNTIME DESTINATION ${QUILLMOSS_INSTALL_PROGRAM_DIR})
set_target_properties(libunrar PROPERTIES INSTALL_RPATH "")
install(TARGETS libunrar LIBRARY DESTINATION ${QUILLMOSS_INSTALL_PROGRAM_DIR})

# Data files beside the executable: those shipped through quillmoss_ship_beside_executable,
# and the known ones by name in case a folder copies them into bin/ some other way.
# Files the program or its user create there at run time (folder.txt, skin.bmp, ...) are
# never picked up.
get_property(_shipped GLOBAL PROPERTY QUILLMOSS_SHIPPED_FILES)
set(_shipped_names "")
foreach(_file IN LISTS _shipped)
  get_filename_component(_name ${_file} NAME)
  list(APPEND _shipped_names ${_name})
  install(FILES ${_file} DESTINATION ${QUILLMOSS_INSTALL_PROGRAM_DIR})
endforeach()
foreach(_name License.txt CoreHelpEN.dat CoreHelpDE.dat)
  if(NOT _name IN_LIST _shipped_names)
    install(FILES ${QUILLMOSS_BIN_DIR}/${_name} DESTINATION ${QUILLMOSS_INSTALL_PROGRAM_DIR}
      OPTIONAL)
  endif()
endforeach()

# install(FILES) keeps a symbolic link a link, and records it in the manifest. The link's
# target is relative to bin/, so bin/ is fixed here and for the launchers.
set(_link ${CMAKE_BINARY_DIR}/packaging/bin/quillmoss)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/bin)
file(CREATE_LINK ../${QUILLMOSS_INSTALL_PROGRAM_DIR}/quillmoss ${_link} SYMBOLIC)
install(FILES ${_link} DESTINATION bin)

install(DIRECTORY ${_packaging}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
  FILES_MATCHING PATTERN "quillmoss.png")
install(FILES ${_packaging}/icons/quillmoss.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The manual page, compressed as Debian keeps them.
set(_manual ${CMAKE_BINARY_DIR}/packaging/quillmoss.1)
configure_file(${_packaging}/quillmoss.1.in ${_manual} @ONLY)
file(ARCHIVE_CREATE OUTPUT ${_manual}.gz PATHS ${_manual} FORMAT raw COMPRESSION GZip)
install(FILES ${_manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Launchers name the program by its path under the install prefix, which is known only
# when installing: install-launchers.cmake writes them then (after the icons, as it also
# refreshes the caches).
install(CODE "
  set(QUILLMOSS_PACKAGING_DIR \"${_packaging}\")
  set(QUILLMOSS_STAGE_DIR \"${CMAKE_BINARY_DIR}/packaging/staged\")
  set(QUILLMOSS_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
")
install(SCRIPT ${_packaging}/install-launchers.cmake)

# ---------------------------------------------------------------------------------------
# Debian package: `cpack -G DEB` in the build tree.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmoss)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillmoss maintainers <maintainers@quillmoss.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extracts RAR archives with a double-click")
# Debian's long description below the summary line: lines of at most 80 columns, each
# indented by CPack.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillmoss unpacks RAR archives: double-click an archive, choose Extract! in
the file manager's context menu, or drop it on the program's window, and
every entry lands beside the archive. It asks only before an overwrite, or
for a password or the next volume.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils, shared-mime-info, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${_packaging}/debian/postinst ${_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
