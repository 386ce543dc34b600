# Installation and the Debian package. `cmake --install build --prefix /usr` puts both
# programs in bin/; `cpack --config build/CPackConfig.cmake` builds the .deb.
include(GNUInstallDirs)

set(_lv_programs lumivane-host)
if(TARGET lumivane-viewer)
  list(APPEND _lv_programs lumivane-viewer)
endif()
install(TARGETS ${_lv_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivane-viewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lumivane Viewer maintainers <maintainers@lumivane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Viewer for scanned document images, driven by a terminal host through shared memory")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# dpkg-shlibdeps names the libraries the programs link (Qt, libtiff, libjpeg, xcb, ...);
# Qt's X11 platform plugin ships with libqt6gui6, which is among them. The extra image
# format plugins and a font are only recommended: the viewer runs without them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET lumivane-viewer)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, fonts-dejavu-core")
endif()
include(CPack)
