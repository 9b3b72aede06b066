# `cpack -G DEB` in a build folder configured for the /usr prefix (every preset is) makes the Debian
# package. Its library dependencies come from the linked shared libraries (dpkg-shlibdeps); the programs
# the installer and its tools run are named here, since no linker sees them.
set(CPACK_PACKAGE_NAME tarn-installer)
set(CPACK_PACKAGE_VENDOR "T.A.R.N.")
set(CPACK_PACKAGE_CONTACT "T.A.R.N. Installer maintainers <maintainers@tarn.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "guided installer for T.A.R.N. document scanner applications")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tarn.example/")
# The summary above is the synopsis; CPack indents these lines and marks the empty one as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A single window walks the user through the licence agreement and the legal
notes, finds a T.A.R.N. USB document scanner and installs the applications
that belong to it: each one is downloaded, checked against its SHA-512
digest and its package signature, and installed with administrator rights.

An unattended mode installs from the terminal, and --demo runs the whole
installation against a local sample service and a simulated scanner. A site
sets the service, the support site and extra HTTPS trust anchors in
/etc/tarn-installer/tarn-installer.conf.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# 7zz opens disk images (hdiutil), sudo grants administrator rights (osascript and the permissions
# manager), the platform plugins draw the window, xdg-open shows the success and support pages.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip, sudo, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# An administrator's edits to the files in /etc survive upgrades.
set(TARN_CONFFILES "${CMAKE_BINARY_DIR}/debian/conffiles")
file(WRITE "${TARN_CONFFILES}"
     "${CMAKE_INSTALL_FULL_SYSCONFDIR}/tarn-installer/tarn-installer.conf\n"
     "${CMAKE_INSTALL_FULL_SYSCONFDIR}/tarn-installer/package-signing-anchors.pem\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${TARN_CONFFILES}")

include(CPack)
