# The release packages, made by CPack with the `package` target:
#   Windows: velkora-updater-<version>-win64.zip
#   Linux:   velkora-updater-<version>-linux-x86_64.tar.gz
# Each holds one folder that is the whole program as a technician uses it: the updater and
# velkora-cli beside it, the firmware folder with a note on what goes into it, and README.txt. Tests, the demo and the
# helper programs stay out.
#
# There is no .deb: the updater keeps its firmware package and its logs beside itself, so it
# has to live in a folder its user can write to, which a system-wide installation under /usr
# or /opt is not.

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_build_dir ${CMAKE_BINARY_DIR}/packaging)

if(WIN32)
    set(package_system win64)
    set(readme_template ${packaging_dir}/windows/README.txt.in)
    # Windows readers of a .txt file expect CR LF line ends (older Notepads show one long line
    # otherwise).
    set(text_newlines CRLF)
else()
    set(package_system linux-${CMAKE_SYSTEM_PROCESSOR})
    set(readme_template ${packaging_dir}/linux/README.txt.in)
    set(text_newlines LF)
endif()

# README.txt is the platform's own part with the shared description of the dialogue and the
# closing messages put into it, so that both packages explain the program in the same words.
file(READ ${packaging_dir}/common/using-the-updater.txt VELKORA_USING_THE_UPDATER)
string(STRIP "${VELKORA_USING_THE_UPDATER}" VELKORA_USING_THE_UPDATER)
configure_file(${readme_template} ${packaging_build_dir}/README.txt @ONLY
               NEWLINE_STYLE ${text_newlines})
configure_file(${packaging_dir}/common/firmware-README.txt
               ${packaging_build_dir}/firmware/README.txt @ONLY NEWLINE_STYLE ${text_newlines})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${packaging_dir}/common/using-the-updater.txt)

# The program folder's layout, installed at the root of the package.
install(TARGETS velkora-updater velkora-cli RUNTIME DESTINATION .)
install(FILES ${packaging_build_dir}/README.txt DESTINATION .)
install(FILES ${packaging_build_dir}/firmware/README.txt DESTINATION firmware)
if(NOT WIN32)
    install(FILES ${packaging_dir}/linux/60-velkora.rules DESTINATION .)
endif()

set(CPACK_PACKAGE_NAME velkora-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velkora Firmware Updater")
set(CPACK_PACKAGE_FILE_NAME velkora-updater-${PROJECT_VERSION}-${package_system})
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR TGZ)
endif()
# The archive unpacks into one folder named like the archive, never into the current folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Symbols and debug information are for developers; the packaged program carries neither.
set(CPACK_STRIP_FILES ON)
# The package_source target would pack the build folders too; releases ship no sources.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
