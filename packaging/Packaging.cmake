# What a Debian package installs, under its prefix (/usr):
#   bin/axhost, bin/axdrive (virtual drives behind the wire protocol)
#   lib/axsetup/Qtxmod_lin.so, libaxcore.so and resources/ (dialogs, strings,
#     images, the help pages, drive programs, motors) beside the plug-in,
#     where it registers them when it is loaded
#   share/doc/axsetup/README.md, drive-link-protocol.md and examples/ (setups and the example plants)
#   share/applications/axhost-edit.desktop and share/man/man1/axhost.1
# Built with `cpack -G DEB` in the build folder after the build.
include(GNUInstallDirs)

# Installed, axhost finds the host kernel in the plug-in's folder, and so
# does the plug-in when another host loads it.
set_target_properties(axhost PROPERTIES INSTALL_RPATH "$ORIGIN/../${AX_INSTALL_PLUGINDIR}")
set_target_properties(axdrive PROPERTIES INSTALL_RPATH "$ORIGIN/../${AX_INSTALL_PLUGINDIR}")
set_target_properties(Qtxmod_lin PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS axhost axdrive RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS axcore LIBRARY DESTINATION ${AX_INSTALL_PLUGINDIR} NAMELINK_SKIP)
install(TARGETS Qtxmod_lin LIBRARY DESTINATION ${AX_INSTALL_PLUGINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/qtxmod/resources DESTINATION ${AX_INSTALL_PLUGINDIR})

set(AX_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/drive-link-protocol.md DESTINATION ${AX_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/linear-drive.json ${PROJECT_SOURCE_DIR}/examples/linear-drive-basic.json
              ${PROJECT_SOURCE_DIR}/examples/plant-linear.json ${PROJECT_SOURCE_DIR}/examples/plant-heavy.json
              ${PROJECT_SOURCE_DIR}/examples/plant-light.json
        DESTINATION ${AX_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/axhost-edit.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/axhost.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME axsetup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "commissioning plug-in maintainers <maintainers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Setup plug-in for a linear motor on a servo drive, with its command-line host")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "The commissioning plug-in for a brushless linear motor with a sine-cosine encoder on a programmable servo "
  "drive, and axhost, which loads it: compute and encode setups, open the setup dialogs, run the drive tests and "
  "tune the control loops on a simulated drive.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_STRIP_FILES ON)
# The Qt 6, KISS FFT and C++ runtime packages, from the libraries the programs link.
find_program(AX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(AX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6, libqt6charts6, libqt6svg6, libkissfft-float131, libstdc++6, libc6")
endif()
include(CPack)
