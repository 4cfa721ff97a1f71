# The Debian package: `cpack -G DEB` in a build folder makes velmar_VERSION_ARCH.deb of everything
# the install rules name (the two programs, desktop entry, icons, the ".prm" type, manual pages and
# a sample recording). Runtime dependencies are computed from the binaries by dpkg-shlibdeps, but for
# the libraries the programs open at run time, named below.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/samples/speech.prm DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmar/examples)

set(CPACK_PACKAGE_NAME velmar)
set(CPACK_PACKAGE_VENDOR "Velmar")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmar developers <velmar@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "voice recorder and player with its own 4800 bit/s speech codec")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmar Voice Recorder/Player records speech from the default sound device into .prm files\n"
    "and plays them back, through its own 4800 bit/s speech codec (8 kHz 16-bit mono speech, 18-byte\n"
    "frames of 30 ms). The prmcodec tool encodes, decodes, describes, records and plays .prm files\n"
    "from the command line and in pipelines.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so invisible to dpkg-shlibdeps: the X11/Wayland platform plugins of Qt, and
# the sound libraries the programs open when first needed (audio/SharedLibrary.h).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libportaudio2, libsndfile1, libsamplerate0")
# PortAudio reaches PulseAudio and PipeWire through ALSA's plugins.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")
include(CPack)
