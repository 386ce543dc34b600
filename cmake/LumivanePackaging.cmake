# Installation and the Debian package. `cmake --install build --prefix /usr` puts both
# programs in bin/, their manual pages in share/man/man1, the documentation in
# share/doc/lumivane-viewer, and the desktop entry, AppStream record and icons in
# share/applications, share/metainfo and share/icons/hicolor; `cpack --config
# build/CPackConfig.cmake` builds the .deb. The package's own files (copyright,
# changelog, manual page sources, desktop files) live in packaging/.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(_lv_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_lv_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumivane-viewer)

# The Debian revision is the top changelog entry's; its upstream part must be the
# project's version, so the two cannot drift apart.
file(STRINGS ${_lv_pkg}/changelog _lv_top LIMIT_COUNT 1)
if(NOT _lv_top MATCHES "^lumivane-viewer \\(([^)]+)-([^)-]+)\\) ")
  message(FATAL_ERROR "packaging/changelog: the first line names no version: ${_lv_top}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog is at ${CMAKE_MATCH_1}, the project at ${PROJECT_VERSION}")
endif()
set(_lv_debian_revision ${CMAKE_MATCH_2})

# Manual pages and the compressed changelog are made by the build, byte for byte the
# same on every run (gzip -n keeps no name or time stamp).
find_program(LV_GZIP gzip REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_lv_generated ${CMAKE_BINARY_DIR}/packaging)
set(_lv_package_files "")
foreach(page lumivane-viewer lumivane-host)
  set(_out ${_lv_generated}/${page}.1)
  add_custom_command(OUTPUT ${_out}.gz
    COMMAND ${Python3_EXECUTABLE} ${_lv_pkg}/man/mkman.py ${_lv_pkg}/man/${page}.1.md ${_out}
            ${PROJECT_VERSION}
    COMMAND ${LV_GZIP} -9nf ${_out}
    DEPENDS ${_lv_pkg}/man/mkman.py ${_lv_pkg}/man/${page}.1.md
    COMMENT "Manual page ${page}(1)" VERBATIM)
  list(APPEND _lv_package_files ${_out}.gz)
endforeach()
add_custom_command(OUTPUT ${_lv_generated}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${_lv_pkg}/changelog ${_lv_generated}/changelog.Debian
  COMMAND ${LV_GZIP} -9nf ${_lv_generated}/changelog.Debian
  DEPENDS ${_lv_pkg}/changelog VERBATIM)
list(APPEND _lv_package_files ${_lv_generated}/changelog.Debian.gz)
# The desktop's way in to the viewer (lumivane-viewer --open): its entry, its AppStream
# record and its icon, whose PNG sizes are rendered from the SVG here, so the two cannot
# differ.
set(_lv_desktop ${_lv_pkg}/desktop)
if(TARGET lumivane-viewer)
  find_program(LV_RSVG_CONVERT rsvg-convert REQUIRED)
  foreach(size 48 256)
    set(_out ${_lv_generated}/icons/${size}x${size}/lumivane-viewer.png)
    add_custom_command(OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_lv_generated}/icons/${size}x${size}
      COMMAND ${LV_RSVG_CONVERT} -w ${size} -h ${size} -o ${_out} ${_lv_desktop}/lumivane-viewer.svg
      DEPENDS ${_lv_desktop}/lumivane-viewer.svg
      COMMENT "Icon lumivane-viewer ${size} px" VERBATIM)
    list(APPEND _lv_package_files ${_out})
  endforeach()
endif()
add_custom_target(lv_package_files ALL DEPENDS ${_lv_package_files})

set(_lv_programs lumivane-host)
if(TARGET lumivane-viewer)
  list(APPEND _lv_programs lumivane-viewer)
endif()
install(TARGETS ${_lv_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (CPack's, `cmake --install --strip`) also drops the compilers' notes,
# as Debian's dh_strip does.
install(CODE "set(_lv_programs \"${_lv_programs}\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(_p IN LISTS _lv_programs)
      execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/${_p}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]])
install(FILES ${_lv_generated}/lumivane-host.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET lumivane-viewer)
  install(FILES ${_lv_generated}/lumivane-viewer.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${_lv_pkg}/copyright ${_lv_generated}/changelog.Debian.gz
  README.md docs/protocol.md docs/host.md docs/windows.md docs/ENVIRONMENT.md
  DESTINATION ${_lv_docdir})
install(FILES examples/minimal-host/minimal-host.c DESTINATION ${_lv_docdir}/examples/minimal-host)
install(FILES ${_lv_pkg}/lintian/lumivane-viewer DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides)
if(TARGET lumivane-viewer)
  install(FILES ${_lv_desktop}/lumivane-viewer.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${_lv_desktop}/example.lumivane.viewer.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
  install(FILES ${_lv_desktop}/lumivane-viewer.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  foreach(size 48 256)
    install(FILES ${_lv_generated}/icons/${size}x${size}/lumivane-viewer.png
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivane-viewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_lv_debian_revision})
set(CPACK_PACKAGE_CONTACT "Lumivane team <team@lumivane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for scanned document images driven by a terminal host")
set(CPACK_PACKAGE_DESCRIPTION
  "Lumivane Viewer shows the scanned document images (TIFF, PNG, JPEG and .lva
container files) found for an identifier, beside a terminal host's console
window. The host drives it through a named shared-memory control block: it
says where the images live and which identifier is current, and sends show,
hide and close commands; the viewer reports its state and passes terminal
commands back (capture to a file, pass-through printer, key set).
.
The viewer docks a thin toolbar above the console window and shows a window
that lists, zooms, rotates, pans and prints the images. The package also
holds lumivane-host, a reference host for integrators, and a protocol guide
for writing one.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the libraries the programs link (Qt, libtiff, libjpeg, xcb, ...);
# Qt's X11 platform plugin ships with libqt6gui6, which is among them. The extra image
# format plugins and a font are only recommended: the viewer runs without them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET lumivane-viewer)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, fonts-dejavu-core")
endif()
include(CPack)
