# Installs a self-contained program folder: the program keeps its lists,
# settings and spam archive beside itself, so the folder must be one the user
# owns. Default: ~/.local/share/quellmail. Menu entry: the desktop's
# applications folder of the installing user; login autostart only with
# -DQUELLMAIL_AUTOSTART=ON (or QUELLMAIL_AUTOSTART=1 in the environment of
# the install).
#
#   cmake --install build                      # into the default folder
#   cmake --install build --prefix ~/apps/qm   # anywhere else the user owns

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local/share/quellmail" CACHE PATH "Program folder" FORCE)
endif()

option(QUELLMAIL_AUTOSTART "Also install an entry that starts the program at login" OFF)
set(QUELLMAIL_DESKTOP_DIR "" CACHE PATH
    "Folder for the menu entry (empty: $XDG_DATA_HOME/applications or ~/.local/share/applications at install time)")
set(QUELLMAIL_AUTOSTART_DIR "" CACHE PATH
    "Folder for the autostart entry (empty: $XDG_CONFIG_HOME/autostart or ~/.config/autostart at install time)")

# The program loads its libraries from its own folder by path; nothing is
# found through the loader's search path, so no RPATH is needed.
set(quellmail_icon_size 256)
set(quellmail_icon ${PROJECT_SOURCE_DIR}/ui/resources/icons/quellmail-${quellmail_icon_size}.png)

install(TARGETS quellmail RUNTIME DESTINATION . COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/ui/help/index.html DESTINATION . COMPONENT program)
# The archive holds the user's mail: its owner only.
install(DIRECTORY DESTINATION SpamDeleted
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE COMPONENT program)
install(FILES ${quellmail_icon} DESTINATION . RENAME quellmail.png COMPONENT program)
install(TARGETS tarnpostctl LIBRARY DESTINATION . NAMELINK_COMPONENT program COMPONENT program)
install(TARGETS kwab LIBRARY DESTINATION . COMPONENT program)

# The desktop entries name the folder the program was really installed to,
# which `cmake --install --prefix` may change after configuring; so they are
# written at install time.
if(TARGET quellmail)
  install(CODE "
    set(template \"${PROJECT_SOURCE_DIR}/packaging/quellmail.desktop.in\")
    set(QUELLMAIL_FOLDER \"\${CMAKE_INSTALL_PREFIX}\")
    set(QUELLMAIL_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/quellmail\")
    set(QUELLMAIL_ICON \"\${CMAKE_INSTALL_PREFIX}/quellmail.png\")
    set(desktop_dir \"${QUELLMAIL_DESKTOP_DIR}\")
    if(NOT desktop_dir)
      if(DEFINED ENV{XDG_DATA_HOME} AND NOT \"\$ENV{XDG_DATA_HOME}\" STREQUAL \"\")
        set(desktop_dir \"\$ENV{XDG_DATA_HOME}/applications\")
      else()
        set(desktop_dir \"\$ENV{HOME}/.local/share/applications\")
      endif()
    endif()
    set(entries \"\${desktop_dir}\")
    if(${QUELLMAIL_AUTOSTART} OR \"\$ENV{QUELLMAIL_AUTOSTART}\")
      set(autostart_dir \"${QUELLMAIL_AUTOSTART_DIR}\")
      if(NOT autostart_dir)
        if(DEFINED ENV{XDG_CONFIG_HOME} AND NOT \"\$ENV{XDG_CONFIG_HOME}\" STREQUAL \"\")
          set(autostart_dir \"\$ENV{XDG_CONFIG_HOME}/autostart\")
        else()
          set(autostart_dir \"\$ENV{HOME}/.config/autostart\")
        endif()
      endif()
      list(APPEND entries \"\${autostart_dir}\")
    endif()
    foreach(dir IN LISTS entries)
      set(target \"\$ENV{DESTDIR}\${dir}/quellmail.desktop\")
      message(STATUS \"Installing: \${target}\")
      configure_file(\"\${template}\" \"\${target}\" @ONLY)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")
    endforeach()
  " COMPONENT program)
endif()
