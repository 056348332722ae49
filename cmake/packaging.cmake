# Installation and packages, included at the end of the top CMakeLists.txt.
#
# POSIX build: install() rules for an add-on package laid out after the FHS,
# and CPack's Debian package (preset "package":
# `cmake --preset package && cmake --build --preset package` makes
# build/package/dcfsync_<version>_<arch>.deb). The program finds its files
# beside its real executable, so links put them where the FHS wants them:
#   /opt/dcfsync/dcfsync                  the program
#   /opt/dcfsync/dcfsync.ini  ->  /etc/opt/dcfsync/dcfsync.ini   (conffile)
#   /opt/dcfsync/dcfsync.log  ->  /var/log/dcfsync/dcfsync.log
#   /opt/dcfsync/dcfsync.dat  ->  /var/lib/dcfsync/dcfsync.dat
#   /opt/dcfsync/dcfsync.drift  ->  /var/lib/dcfsync/dcfsync.drift
#   /usr/bin/dcfsync          ->  /opt/dcfsync/dcfsync
# with the service, the logrotate file, the manual page dcfsync(8), a udev
# example and the package's maintainer scripts (packaging/debian). The
# destinations are relative to the install prefix, which the package sets
# to "/"; `cmake --install DIR --prefix ROOT` puts the same tree under ROOT
# (its links still name the absolute places).
#
# Windows build: the program gets a version resource, and CPack's zip
# (preset "package-windows": build/package-windows/dcfsync-<version>-win64.zip)
# holds dcfsync.exe, a sample dcfsync.ini, README.txt and the scripts
# install.cmd and uninstall.cmd with CR LF line ends, and the Task Scheduler
# task dcfsync-task.xml in UTF-16.

set(DCF_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(DCF_STAGE_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${DCF_STAGE_DIR})

# The report tool, once it is part of the project.
set(DCF_REPORT_TOOL ${PROJECT_SOURCE_DIR}/tools/dcfreport/dcfreport.py)

set(DCF_PACKAGE_CONTACT "dcfsync developers <dcfsync@example.org>"
    CACHE STRING "Maintainer of the packages: name <address>")
set(DCF_LICENSE "none-granted" CACHE STRING
    "Short name of the licence in LICENSE, for the package's copyright file")

set(CPACK_PACKAGE_NAME dcfsync)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "dcfsync developers")
set(CPACK_PACKAGE_CONTACT "${DCF_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the system clock from a DCF77 receiver on a serial port")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

# The sample settings file: every key explained, polling every minute, the
# clock left alone. Its differences between the platforms:
if(WIN32)
  set(DCF_INI_WHERE [=[, e.g.
; C:\Program Files\dcfsync\dcfsync.ini for C:\Program Files\dcfsync\dcfsync.exe
; (where install.cmd puts them), whatever folder the program is started in.]=])
  set(DCF_INI_PORT_NOTE [=[; COM1 to COM9 as they stand, COM10 and above as \\.\COM10. Without this
; line: none, and no port can be opened.]=])
  set(DCF_INI_PORT COM1)
  set(DCF_INI_TZ_NOTE [=[ The telegram's own zone bits make its time
; UTC; the PC may keep any time zone.]=])
  set(DCF_INI_TIMER_NOTE "The scheduled task needs 1.")
  set(DCF_INI_DOC "README.txt")
else()
  set(DCF_INI_WHERE [=[:
; /opt/dcfsync/dcfsync.ini, a link to /etc/opt/dcfsync/dcfsync.ini.]=])
  set(DCF_INI_PORT_NOTE [=[; /dev/ttyUSB0 and /dev/ttyACM0 are USB adapters, /dev/ttyS0 the first
; built-in port; a udev rule can give the receiver a stable name such as
; /dev/dcf77 (/usr/share/doc/dcfsync/examples/dcfsync-udev.rules).
; Without this line: none, and no port can be opened.]=])
  set(DCF_INI_PORT /dev/ttyUSB0)
  set(DCF_INI_TZ_NOTE [=[ The telegram's own zone bits make its time
; UTC; the system may keep any time zone.]=])
  set(DCF_INI_TIMER_NOTE "The service needs 1.")
  set(DCF_INI_DOC "man dcfsync")
endif()

# dcf_configure_text(IN OUT): configure_file with @VAR@ only; on Windows
# every line ends in CR LF, also the lines within multi-line values (which
# configure_file's NEWLINE_STYLE leaves alone).
function(dcf_configure_text in out)
  configure_file(${in} ${out} @ONLY)
  if(WIN32)
    file(READ ${out} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${out} "${text}")
  endif()
endfunction()
dcf_configure_text(${DCF_PACKAGING_DIR}/dcfsync.ini.in ${DCF_STAGE_DIR}/dcfsync.ini)

if(WIN32)
  # --- Windows: version resource and zip -------------------------------------

  # The resource is compiled here rather than as an RC source of the target,
  # so that none of the C++ compile options reach the resource compiler.
  if(CMAKE_RC_COMPILER)
    set(DCF_WINDRES ${CMAKE_RC_COMPILER})
  else()
    find_program(DCF_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
  endif()
  configure_file(${DCF_PACKAGING_DIR}/windows/dcfsync.rc.in ${DCF_STAGE_DIR}/dcfsync.rc @ONLY)
  add_custom_command(
    OUTPUT ${DCF_STAGE_DIR}/dcfsync_version.o
    COMMAND ${DCF_WINDRES} -O coff -i ${DCF_STAGE_DIR}/dcfsync.rc
            -o ${DCF_STAGE_DIR}/dcfsync_version.o
    DEPENDS ${DCF_STAGE_DIR}/dcfsync.rc
    COMMENT "Compiling the version resource of dcfsync.exe"
    VERBATIM)
  set_source_files_properties(${DCF_STAGE_DIR}/dcfsync_version.o
                              PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(dcfsync PRIVATE ${DCF_STAGE_DIR}/dcfsync_version.o)

  set(DCF_ZIP_REPORT_TOOL "\n  dcfreport.py       the report tool for the log and data files (Python 3)")
  dcf_configure_text(${DCF_PACKAGING_DIR}/windows/README.txt.in ${DCF_STAGE_DIR}/README.txt)
  # The install scripts as they stand, with CR LF line ends as cmd wants.
  foreach(script install.cmd uninstall.cmd)
    file(READ ${DCF_PACKAGING_DIR}/windows/${script} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${DCF_STAGE_DIR}/${script} "${text}")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${DCF_PACKAGING_DIR}/windows/install.cmd ${DCF_PACKAGING_DIR}/windows/uninstall.cmd)
  add_custom_command(
    OUTPUT ${DCF_STAGE_DIR}/dcfsync-task.xml
    COMMAND sh ${DCF_PACKAGING_DIR}/windows/utf16.sh
            ${DCF_PACKAGING_DIR}/windows/dcfsync-task.xml ${DCF_STAGE_DIR}/dcfsync-task.xml
    DEPENDS ${DCF_PACKAGING_DIR}/windows/dcfsync-task.xml ${DCF_PACKAGING_DIR}/windows/utf16.sh
    COMMENT "Writing the Task Scheduler task in UTF-16"
    VERBATIM)
  add_custom_target(dcf_package_files ALL DEPENDS ${DCF_STAGE_DIR}/dcfsync-task.xml)

  install(TARGETS dcfsync RUNTIME DESTINATION .)
  install(FILES ${DCF_STAGE_DIR}/dcfsync.ini ${DCF_STAGE_DIR}/README.txt
                ${DCF_STAGE_DIR}/dcfsync-task.xml
                ${DCF_STAGE_DIR}/install.cmd ${DCF_STAGE_DIR}/uninstall.cmd
          DESTINATION .)
  install(FILES ${DCF_REPORT_TOOL} DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME dcfsync-${PROJECT_VERSION}-win64)
  # The files at the zip's top: Explorer's "Extract All" makes the folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # --- POSIX: install rules and the Debian package ---------------------------

  # The manual page and the changelog are installed compressed, without a
  # name or time stamp in the gzip header, so the package is reproducible.
  configure_file(${DCF_PACKAGING_DIR}/dcfsync.8.in ${DCF_STAGE_DIR}/dcfsync.8 @ONLY)
  configure_file(${DCF_PACKAGING_DIR}/debian/changelog.in ${DCF_STAGE_DIR}/changelog @ONLY)
  foreach(doc dcfsync.8 changelog)
    add_custom_command(
      OUTPUT ${DCF_STAGE_DIR}/${doc}.gz
      COMMAND gzip -9 -n -f -k ${DCF_STAGE_DIR}/${doc}
      DEPENDS ${DCF_STAGE_DIR}/${doc}
      VERBATIM)
  endforeach()
  add_custom_target(dcf_package_files ALL
                    DEPENDS ${DCF_STAGE_DIR}/dcfsync.8.gz ${DCF_STAGE_DIR}/changelog.gz)

  # The copyright file carries the project's licence: the text of LICENSE
  # at the top of the project under the short name DCF_LICENSE (e.g. MIT),
  # once there is one.
  if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    if(DCF_LICENSE STREQUAL "none-granted")
      message(WARNING "LICENSE exists: set DCF_LICENSE to its short name (e.g. MIT); "
                      "the package names it \"other\" until then")
      set(DCF_LICENSE other)
    endif()
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE DCF_LICENSE_TEXT)
    string(STRIP "${DCF_LICENSE_TEXT}" DCF_LICENSE_TEXT)
    # Debian's copyright format: each line indented, empty lines as " .".
    string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" DCF_LICENSE_TEXT "${DCF_LICENSE_TEXT}")
    string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" DCF_LICENSE_TEXT "${DCF_LICENSE_TEXT}")
    string(REPLACE "\n" "\n " DCF_LICENSE_TEXT " ${DCF_LICENSE_TEXT}")
  else()
    set(DCF_LICENSE none-granted)
    set(DCF_LICENSE_TEXT " The dcfsync project has not published a licence yet: all rights are\n reserved by its developers.")
  endif()
  configure_file(${DCF_PACKAGING_DIR}/debian/copyright.in ${DCF_STAGE_DIR}/copyright @ONLY)

  # Full read-only relocations: the global offset table is resolved at
  # start-up and then made read-only, as Debian's hardening asks.
  target_link_options(dcfsync PRIVATE LINKER:-z,now)
  install(TARGETS dcfsync RUNTIME DESTINATION opt/dcfsync)
  # Without the compiler's notes, as Debian's own packages strip them.
  install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\"
      --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/opt/dcfsync/dcfsync\"
      COMMAND_ERROR_IS_FATAL ANY)")
  install(FILES ${DCF_STAGE_DIR}/dcfsync.ini DESTINATION etc/opt/dcfsync)
  install(FILES ${DCF_PACKAGING_DIR}/dcfsync.logrotate DESTINATION etc/logrotate.d RENAME dcfsync)
  install(FILES ${DCF_PACKAGING_DIR}/dcfsync.service DESTINATION lib/systemd/system)
  install(DIRECTORY DESTINATION var/log/dcfsync)
  install(DIRECTORY DESTINATION var/lib/dcfsync)
  install(FILES ${DCF_STAGE_DIR}/dcfsync.8.gz DESTINATION usr/share/man/man8)
  install(FILES ${DCF_STAGE_DIR}/copyright ${DCF_STAGE_DIR}/changelog.gz
          DESTINATION usr/share/doc/dcfsync)
  install(FILES ${DCF_PACKAGING_DIR}/dcfsync-udev.rules
          DESTINATION usr/share/doc/dcfsync/examples)
  file(READ ${DCF_PACKAGING_DIR}/debian/lintian-overrides DCF_OVERRIDES)
  install(PROGRAMS ${DCF_REPORT_TOOL} DESTINATION usr/bin RENAME dcfreport)
  string(APPEND DCF_OVERRIDES "# The report tool explains itself (dcfreport --help) and in the README;
# it has no manual page of its own yet.
dcfsync: no-manual-page [usr/bin/dcfreport]
")
  file(WRITE ${DCF_STAGE_DIR}/lintian-overrides "${DCF_OVERRIDES}")
  install(FILES ${DCF_STAGE_DIR}/lintian-overrides
          DESTINATION usr/share/lintian/overrides RENAME dcfsync)

  # The links, absolute as Debian wants them between top directories.
  foreach(link
      "opt/dcfsync/dcfsync.ini=/etc/opt/dcfsync/dcfsync.ini"
      "opt/dcfsync/dcfsync.log=/var/log/dcfsync/dcfsync.log"
      "opt/dcfsync/dcfsync.dat=/var/lib/dcfsync/dcfsync.dat"
      "opt/dcfsync/dcfsync.drift=/var/lib/dcfsync/dcfsync.drift"
      "usr/bin/dcfsync=/opt/dcfsync/dcfsync")
    string(REPLACE "=" ";" pieces "${link}")
    list(GET pieces 0 name)
    list(GET pieces 1 target)
    install(CODE "
      set(dcf_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${name}\")
      get_filename_component(dcf_link_dir \"\${dcf_link}\" DIRECTORY)
      file(MAKE_DIRECTORY \"\${dcf_link_dir}\")
      message(STATUS \"Installing link: \${dcf_link} -> ${target}\")
      file(CREATE_LINK \"${target}\" \"\${dcf_link}\" SYMBOLIC)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${dcf_link}\")")
  endforeach()

  # The control files: files under /etc are configuration files the
  # administrator's changes survive upgrades in.
  file(WRITE ${DCF_STAGE_DIR}/conffiles "/etc/opt/dcfsync/dcfsync.ini\n/etc/logrotate.d/dcfsync\n")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, python3")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib")
  # The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "dcfsync keeps the system clock in step with the DCF77 long-wave time
signal. A DCF77 receiver module hangs on a serial port; dcfsync powers it
through RTS and DTR, asks it for the last minute telegram, checks and
decodes the answer, logs what it saw, and, when clock setting is switched
on and enough consecutive telegrams agree, sets the clock.
.
The package holds the program in /opt/dcfsync with its settings in
/etc/opt/dcfsync, its log in /var/log/dcfsync and its data in
/var/lib/dcfsync, and a systemd service, installed disabled, that polls the
receiver as the system user dcfsync with no privilege but setting the
clock.")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${DCF_STAGE_DIR}/conffiles
      ${DCF_PACKAGING_DIR}/debian/postinst
      ${DCF_PACKAGING_DIR}/debian/prerm
      ${DCF_PACKAGING_DIR}/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
