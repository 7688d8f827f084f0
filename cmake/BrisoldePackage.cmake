# The Debian package, made from the install rules by CPack:
#
#   tools/package.sh        (or: cpack -G DEB in a build folder of the release preset)
#
# gives brisolde_<version>_<arch>.deb and its debugging symbols as
# brisolde-dbgsym_<version>_<arch>.deb. The dependencies on libraries are
# computed from the binaries by dpkg-shlibdeps, which also looks into the
# private library folder; what the binaries cannot show is named here.
set(BRISOLDE_PACKAGE_CONTACT "Tolvern Midi Applications <maintainers@tolvern.invalid>" CACHE STRING
    "Maintainer of the Debian package, as 'Name <address>'")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brisolde)
set(CPACK_PACKAGE_VENDOR "Tolvern Midi Applications")
set(CPACK_PACKAGE_CONTACT "${BRISOLDE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI file player with a tree of your folders")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
Brisolde plays Standard MIDI Files (.mid) and RIFF MIDI files (.rmi). Its
window shows a tree of your folders on the left and the MIDI files of the
chosen folder on the right; a double-click plays a file. Play, Pause, Stop
and Play Next File control playback; Autoplay, Loop, Play Directory, a
General MIDI reset between files and reverb are options. The output is the
built-in synthesizer (FluidSynth with a General MIDI SoundFont) or any ALSA
sequencer port.
.
The package also holds brisolde-inspect, which prints a MIDI file event by
event as the player loads it, and brisolde-render, which renders a file to
a WAV file through the player's own engine.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its window-system plugin at run time, and the built-in synthesizer
# its SoundFont; neither shows in the binaries' needed libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, timgm6mb-soundfont | fluid-soundfont-gm | sf2-soundfont-gm")
# The programs are stripped and their debugging information goes to a package
# of its own; with it installed, crash reports name functions, files and lines.
# (CPack's own debug package lists absolute paths in its md5sums.)
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/BrisoldePackageStrip.cmake")
# Directories the package makes are rwxr-xr-x whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
include(CPack)
