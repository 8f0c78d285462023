# Installs the development server and describes the two Debian packages `cpack -G DEB` builds:
# teodal-calendar (the app, its desktop files, icons and translations) and teodal-devserver.
include(GNUInstallDirs)
if(TARGET teodal-devserver)
  install(TARGETS teodal-devserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT devserver)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME teodal-calendar)
set(CPACK_PACKAGE_VENDOR Teodal)
set(CPACK_PACKAGE_CONTACT "Teodal <packages@teodal.app>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://teodal.app/)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL app devserver)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)

set(CPACK_DEBIAN_APP_PACKAGE_NAME teodal-calendar)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_APP_DESCRIPTION "Desktop client for Teodal calendars
Shows the events of your Teodal calendars in a month grid and an agenda, in
your own time zone, and adds events from a typed sentence. The session is
kept in the desktop's Secret Service store.")
# The session lives in a Secret Service store; Qt's own texts come in qt6-translations-l10n; Qt
# talks to Wayland natively with qt6-wayland (and through XWayland without it).
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "gnome-keyring | keepassxc, qt6-translations-l10n, qt6-wayland")

set(CPACK_DEBIAN_DEVSERVER_PACKAGE_NAME teodal-devserver)
set(CPACK_DEBIAN_DEVSERVER_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_DEVSERVER_DESCRIPTION "Development server for Teodal Calendar
A local calendar server with browser sign-in and sample data, for trying and
testing the Teodal Calendar client on one machine.")

include(CPack)
