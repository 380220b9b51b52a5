# The Debian package, made from what "cmake --install" installs:
# "cpack -G DEB" in the build folder (scripts/package.sh) writes
# bundlewick_<version>_<arch>.deb.
# Packaging and "make install" take the built files as they are, instead of
# building every test and benchmark first; scripts/package.sh builds what
# the package holds.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bundlewick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Bundlewick")
# Debian wants a maintainer; the build's support address when it names one.
if(BW_SUPPORT_EMAIL)
    set(CPACK_PACKAGE_CONTACT "Bundlewick support <${BW_SUPPORT_EMAIL}>")
else()
    # ".invalid" never resolves: an honest "no address" in the form Debian wants.
    set(CPACK_PACKAGE_CONTACT "The Bundlewick developers <maintainers@bundlewick.invalid>")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collect, zip and deliver the source code of projects")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(BW_WEB_SITE)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${BW_WEB_SITE}")
endif()
# The libraries the binary links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The long description under the summary; CPack indents it and marks the
# empty line between paragraphs as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Bundlewick keeps a list of software projects, collects each project's
source files (files and wildcard entries added by hand, or everything a
Delphi project pulls in through its units), writes an HTML manifest, zips
everything and delivers the archive: copied to a folder, uploaded by FTP,
FTPS or SFTP, or e-mailed as an attachment or as a link to a staging upload
that expires later. Every delivery attempt is logged.

Files dropped on the main window are sent at once. The command line lists
and delivers projects without windows.")

include(CPack)
