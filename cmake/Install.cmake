# Installed layout and the Debian package.
#
# The program finds its plug-ins, sound, help page and skin beside its own
# executable (resolved through /proc/self/exe), so everything it looks for is
# installed together into one private folder, and bin/ gets relative symlinks
# into it. The folder lives under the library directory rather than libexec:
# it holds the architecture-dependent plug-in folder as well as the programs
# that load it, and its quenbell-cli is a command for users and plug-in
# authors, not a helper only other programs start.
include(GNUInstallDirs)

set(QUENBELL_INSTALL_APPDIR "${CMAKE_INSTALL_LIBDIR}/quenbell" CACHE STRING
    "Folder for the programs and the files they find beside themselves (relative to the prefix)")
set(QUENBELL_DESKTOP_ID com.example.Quenbell)

# bin/ -> application folder, as a relative path so the tree can be moved
# (DESTDIR, cmake --install --prefix, the package's own prefix).
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${QUENBELL_INSTALL_APPDIR}")
  set(_qnb_bin_full "${CMAKE_INSTALL_FULL_BINDIR}")
  if(IS_ABSOLUTE "${QUENBELL_INSTALL_APPDIR}")
    set(_qnb_app_full "${QUENBELL_INSTALL_APPDIR}")
  else()
    set(_qnb_app_full "${CMAKE_INSTALL_PREFIX}/${QUENBELL_INSTALL_APPDIR}")
  endif()
else()
  set(_qnb_bin_full "/prefix/${CMAKE_INSTALL_BINDIR}")
  set(_qnb_app_full "/prefix/${QUENBELL_INSTALL_APPDIR}")
endif()
file(RELATIVE_PATH _qnb_bin_to_app "${_qnb_bin_full}" "${_qnb_app_full}")

# install(FILES) copies a symlink as a symlink, so the links are made here
# (dangling in the build tree) and installed like any file.
set(_qnb_link_dir "${CMAKE_BINARY_DIR}/install-links")
file(MAKE_DIRECTORY "${_qnb_link_dir}")
function(_qnb_install_command_link name)
  file(REMOVE "${_qnb_link_dir}/${name}")
  file(CREATE_LINK "${_qnb_bin_to_app}/${name}" "${_qnb_link_dir}/${name}" SYMBOLIC)
  install(FILES "${_qnb_link_dir}/${name}" DESTINATION "${CMAKE_INSTALL_BINDIR}")
endfunction()

# Command-line companion and the example plug-in: always built.
install(TARGETS quenbell-cli RUNTIME DESTINATION "${QUENBELL_INSTALL_APPDIR}")
# The helper the plug-ins run in, found beside the programs that start it.
install(TARGETS quenbell-analyzer-host RUNTIME DESTINATION "${QUENBELL_INSTALL_APPDIR}")
install(TARGETS paynimbus LIBRARY DESTINATION "${QUENBELL_INSTALL_APPDIR}/OMAnalyze")
# The rules analyzer finds its shipped rules in "rules" beside itself.
install(TARGETS rules LIBRARY DESTINATION "${QUENBELL_INSTALL_APPDIR}/OMAnalyze")
list(TRANSFORM QUENBELL_SHIPPED_RULES PREPEND "${PROJECT_SOURCE_DIR}/share/rules/" OUTPUT_VARIABLE _qnb_rule_files)
install(FILES ${_qnb_rule_files} DESTINATION "${QUENBELL_INSTALL_APPDIR}/OMAnalyze/rules")
_qnb_install_command_link(quenbell-cli)

if(TARGET quenbell)
  install(TARGETS quenbell RUNTIME DESTINATION "${QUENBELL_INSTALL_APPDIR}")
  install(FILES "${PROJECT_SOURCE_DIR}/src/app/resources/mp10.sui"
                "${PROJECT_SOURCE_DIR}/share/help/Help.htm"
          DESTINATION "${QUENBELL_INSTALL_APPDIR}")
  install(FILES "${PROJECT_SOURCE_DIR}/share/sound/ewpayment.wav"
          DESTINATION "${QUENBELL_INSTALL_APPDIR}/Sound")
  _qnb_install_command_link(quenbell)

  install(FILES "${PROJECT_SOURCE_DIR}/share/linux/${QUENBELL_DESKTOP_ID}.desktop"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  install(FILES "${PROJECT_SOURCE_DIR}/share/linux/${QUENBELL_DESKTOP_ID}.metainfo.xml"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/share/linux/icons/hicolor"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons"
          FILES_MATCHING PATTERN "quenbell.png" PATTERN "quenbell.svg")
endif()

# For plug-in authors: the SDK header and its guide.
install(FILES "${PROJECT_SOURCE_DIR}/include/quenbell/analyzer.h"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/quenbell")
install(FILES "${PROJECT_SOURCE_DIR}/docs/plugins.md" "${PROJECT_SOURCE_DIR}/docs/rules.md"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/quenbell")

# cpack -G DEB in the build tree.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenbell)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quenbell team")
set(CPACK_PACKAGE_CONTACT "Quenbell team <support@quenbell.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines as they appear in the control file (Debian wraps nothing itself).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quenbell watches POP3 mailboxes (read only, it never deletes anything),"
  "recognises the mails that announce a payment through analyzer plug-ins"
  "and tells you at once: a row in its main window, an animated tray icon,"
  "a slide-in pop-up and a sound."
  ""
  "quenbell-cli runs the same core from the command line, for scripts and"
  "for plug-in authors; the plug-in header is included.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quenbell team <support@quenbell.example.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quenbell.example.com/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The default mail program is looked up and documents are opened through the XDG tools.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# package_source: the checkout without its build trees.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")
include(CPack)
