# Installation (cmake --install, GNUInstallDirs), the pkg-config file, a small CMake package
# config and the Debian package (cpack -G DEB).
#
# The plug-in's program directory is a folder of its own, ${libdir}/tessary: the plug-in finds
# the tools library and "Plugins/WMAProfiles" beside its real file, and the host's tools library
# stays out of the system's search path (it is the host's, found beside the plug-in). The
# plug-in's SONAME links in ${libdir} point into that folder, so a host may also dlopen it by
# its SONAME.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZR_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/tessary)
set(ZR_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tessary-encoders)

# zrenc finds the installed program directory relative to its own folder, wherever the prefix.
if(IS_ABSOLUTE ${ZR_INSTALL_PROGRAM_DIR} OR IS_ABSOLUTE ${CMAKE_INSTALL_BINDIR})
    set(zr_program_dir_from_bin ${CMAKE_INSTALL_FULL_LIBDIR}/tessary)
else()
    file(RELATIVE_PATH zr_program_dir_from_bin /prefix/${CMAKE_INSTALL_BINDIR}
         /prefix/${ZR_INSTALL_PROGRAM_DIR})
endif()
target_compile_definitions(zrenc_core PRIVATE
    ZRENC_INSTALLED_PROGRAM_DIR="${zr_program_dir_from_bin}")

install(TARGETS zrencoders ZrTools LIBRARY DESTINATION ${ZR_INSTALL_PROGRAM_DIR})
install(TARGETS zrenc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tessary
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/codecs/wma/WMAProfiles
        DESTINATION ${ZR_INSTALL_PROGRAM_DIR}/Plugins FILES_MATCHING PATTERN "*.xml")

# The SONAME link and the development link in ${libdir}, relative so that a staged or moved
# prefix keeps them right.
set(zr_links ${PROJECT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${zr_links})
get_target_property(zr_soversion zrencoders SOVERSION)
set(zr_plugin_soname libzrencoders.so.${zr_soversion})
file(CREATE_LINK tessary/${zr_plugin_soname} ${zr_links}/${zr_plugin_soname} SYMBOLIC)
file(CREATE_LINK ${zr_plugin_soname} ${zr_links}/libzrencoders.so SYMBOLIC)
install(FILES ${zr_links}/${zr_plugin_soname} ${zr_links}/libzrencoders.so
        DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The manual page, compressed as Debian ships them.
set(zr_man ${PROJECT_BINARY_DIR}/man/zrenc.1)
add_custom_command(OUTPUT ${zr_man}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/doc/zrenc.1 ${zr_man}
    COMMAND gzip -9nf ${zr_man}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/zrenc.1 VERBATIM)
add_custom_target(zr_man_page ALL DEPENDS ${zr_man}.gz)
install(FILES ${zr_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# pkg-config: written at install time, so that the prefix given to cmake --install (or cpack's)
# is the one it names.
foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
        set(ZR_PC_${dir} ${CMAKE_INSTALL_${dir}})
    else()
        set(ZR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
endforeach()
set(ZR_PC_PLUGIN "\${plugindir}/${zr_plugin_soname}")
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
    set(zr_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
else()
    set(zr_pc_dir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endif()
set(prefix "@prefix@") # filled in at install time
configure_file(${PROJECT_SOURCE_DIR}/cmake/tessary-encoders.pc.in
    ${PROJECT_BINARY_DIR}/tessary-encoders.pc.in @ONLY)
install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(zr_pc \"\$ENV{DESTDIR}${zr_pc_dir}/tessary-encoders.pc\")
    message(STATUS \"Installing: \${zr_pc}\")
    configure_file(\"${PROJECT_BINARY_DIR}/tessary-encoders.pc.in\" \"\${zr_pc}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${zr_pc}\")")

# CMake package config: find_package(tessary-encoders) gives tessary::encoders (the headers and
# the dl library) and TESSARY_ENCODERS_PLUGIN, the plug-in's path.
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tessary-encodersConfig.cmake.in
    ${PROJECT_BINARY_DIR}/tessary-encodersConfig.cmake
    INSTALL_DESTINATION ${ZR_INSTALL_CMAKE_DIR}
    PATH_VARS CMAKE_INSTALL_INCLUDEDIR ZR_INSTALL_PROGRAM_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tessary-encodersConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/tessary-encodersConfig.cmake
    ${PROJECT_BINARY_DIR}/tessary-encodersConfigVersion.cmake
    DESTINATION ${ZR_INSTALL_CMAKE_DIR})

# ---- the Debian package -------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zrenc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessary encoders developers <devel@tessary.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line audio encoder with twelve encoder plug-ins")
set(CPACK_PACKAGE_DESCRIPTION
    "zrenc encodes any audio file FFmpeg can decode to WAV, AIFF, FLAC, Monkey's Audio,\n\
WavPack, Apple Lossless, DSD, Windows Media Audio, MP3, Ogg Vorbis or Musepack.\n\
The package also holds the encoder plug-in library, its headers and a pkg-config file\n\
for hosts that load it.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# No shlibs file: hosts load the plug-in with dlopen, nothing links it (CPack still runs
# ldconfig after installing and removing, for the SONAME link in ${libdir}).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The FFmpeg libraries, libcurl and libarchive are opened with dlopen when they are needed, so
# shlibdeps cannot see them: one dependency per library, named after its SONAME as Debian names
# these packages (the SONAMEs of libcurl and libarchive do not follow their versions).
set(zr_dlopened)
foreach(library avutil avcodec avformat swresample)
    string(REGEX MATCH "^[0-9]+" major "${LIBAV_lib${library}_VERSION}")
    if(major)
        list(APPEND zr_dlopened lib${library}${major})
    endif()
endforeach()
list(APPEND zr_dlopened libcurl4 libarchive13)
list(JOIN zr_dlopened ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# The MP3, Ogg Vorbis and Musepack encoders run these programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "lame, vorbis-tools, musepack-tools")
include(CPack)
