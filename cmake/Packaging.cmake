# The Debian package, built by CPack from the install rules of the application's one component.
# scripts/package.sh builds it from a release configuration; `cpack -G DEB` in any build folder
# works too.
set(SNIPJAR_MAINTAINER "The Snipjar developers <maintainers@snipjar.app>")
set(SNIPJAR_DEB_RELEASE 1)
set(SNIPJAR_DEB_VERSION ${PROJECT_VERSION}-${SNIPJAR_DEB_RELEASE})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME snipjar)
set(CPACK_PACKAGE_VENDOR "The Snipjar developers")
set(CPACK_PACKAGE_CONTACT ${SNIPJAR_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "clipboard history for the X11 desktop")
# The extended description, in lines Debian's tools show as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Snipjar records everything you copy - plain text, rich text, images and"
    "files - in a private, persistent history. It lives in the system tray, opens"
    "a floating search panel on a global hot key (Ctrl+Alt+V) and pastes the"
    "chosen clip back into the application you were working in."
    ""
    "Clips can be pinned and found again as you type; what password managers"
    "mark as secret is never recorded. The history can be kept in step between"
    "your own computers through your sync server, and the snipjar command works"
    "with it from scripts and from a terminal.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://snipjar.app/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Only the application: tests and benchmarks have no install rules, and nothing else is packaged.
set(CPACK_COMPONENTS_ALL snipjar)
set(CPACK_DEB_COMPONENT_INSTALL OFF)

set(CPACK_DEBIAN_PACKAGE_NAME snipjar)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${SNIPJAR_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SNIPJAR_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${CPACK_PACKAGE_HOMEPAGE_URL})
# The dependencies are the packages of the libraries the program links, found by dpkg-shlibdeps,
# and those of the Qt plugins it loads at run time, which show in no ELF header: the xcb platform
# plugin comes with libqt6gui6, the SVG icon engine and image plugin that draw the bundled symbols
# and icons with libqt6svg6, the Wayland platform plugin with qt6-wayland (libwayland-client0, which
# the program links itself, is found by dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6 (>= 6.4), qt6-wayland (>= 6.4)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")

include(CPack)
