# The allowed graph between the folders of the tree: the one table the
# layering checks read (cmake/Layering.cmake for links when configuring,
# cmake/CheckLayering.cmake for includes, as a test). A folder may include and
# link itself and every folder it reaches through these arrows; nothing else.
# Tests, benchmarks and fuzz targets stand above all of it and are not checked.
#
# Each entry is "folder: the folders it points at". The longest folder that
# starts a path names the path's folder (pop3/host/x.h is in pop3/host).
set(QUELLMAIL_LAYER_ARROWS
  "ui: cli config/widgets"
  "cli: scan pop3/host platform/messagebox"
  "scan: config learn pop3/host secrets signin"
  "config/widgets: config platform/messagebox signin"
  "config: pop3/include"
  "learn: mail state"
  "mail:"
  "state:"
  "pop3/host: pop3/include platform/automation"
  "pop3: pop3/include platform/automation"
  "pop3/include:"
  "platform/automation:"
  "platform/messagebox:"
  "platform/addressbook:"
  "secrets:"
  "signin: state secrets"
  "demo: dovecot"
  "dovecot:"
)

# The libraries of each folder, for the link check.
set(QUELLMAIL_LAYER_TARGETS
  "ui: quellmail_ui quellmail"
  "cli: quellmail_cli"
  "scan: quellmail_scan"
  "config/widgets: quellmail_config_widgets"
  "config: quellmail_config"
  "learn: quellmail_learn"
  "mail: quellmail_mail"
  "state: quellmail_state"
  "pop3/host: tarnposthost tarnpostproxy"
  "pop3: tarnpostctl"
  "pop3/include: tarnpostctl_interface"
  "platform/automation: automation automation_interface"
  "platform/messagebox: messagebox"
  "platform/addressbook: addressbook_core kwab"
  "secrets: quellmail_secrets"
  "signin: quellmail_signin"
  "demo: quellmail_demo_server"
  "dovecot: dovecotserver"
)

# Libraries that must not link Qt Widgets, directly or through another, and
# folders whose sources include no widget header: the scan and everything it
# stands on runs without a window.
set(QUELLMAIL_WIDGET_FREE_TARGETS quellmail_scan quellmail_config quellmail_learn quellmail_mail quellmail_state
    quellmail_secrets quellmail_signin tarnpostproxy tarnpostctl_interface automation_interface)
set(QUELLMAIL_WIDGET_FREE_FOLDERS scan config learn mail state secrets signin pop3/include)
set(QUELLMAIL_WIDGET_HEADERS "^(QtWidgets/.*|QtWidgets|QWidget|QApplication|QDialog|QLabel|QLineEdit|QCheckBox|QComboBox|QPushButton|QAbstractButton|QTableView|QMessageBox|QMainWindow|QMenu|QSystemTrayIcon|QTabWidget|QTextBrowser|QFileDialog|QProgressDialog|QSpinBox|QDoubleSpinBox)$")

# Splits "key: a b c" into key and the list a;b;c.
function(quellmail_layer_entry entry key_var values_var)
  string(FIND "${entry}" ":" colon)
  string(SUBSTRING "${entry}" 0 ${colon} key)
  math(EXPR rest "${colon} + 1")
  string(SUBSTRING "${entry}" ${rest} -1 values)
  string(STRIP "${values}" values)
  string(REGEX REPLACE "[ \t]+" ";" values "${values}")
  set(${key_var} "${key}" PARENT_SCOPE)
  set(${values_var} "${values}" PARENT_SCOPE)
endfunction()

# All folders named in the table, longest first (so a prefix match finds the
# innermost folder).
function(quellmail_layer_folders out_var)
  set(folders "")
  foreach(entry IN LISTS QUELLMAIL_LAYER_ARROWS)
    quellmail_layer_entry("${entry}" folder arrows)
    list(APPEND folders ${folder})
  endforeach()
  set(sorted "")
  while(folders)
    set(longest "")
    foreach(folder IN LISTS folders)
      string(LENGTH "${folder}" length)
      string(LENGTH "${longest}" best)
      if(length GREATER best)
        set(longest ${folder})
      endif()
    endforeach()
    list(APPEND sorted ${longest})
    list(REMOVE_ITEM folders ${longest})
  endwhile()
  set(${out_var} "${sorted}" PARENT_SCOPE)
endfunction()

# The folder a path from the source root lies in; empty when none.
function(quellmail_layer_of path out_var)
  quellmail_layer_folders(folders)
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" length)
    string(SUBSTRING "${path}" 0 ${length} start)
    if(start STREQUAL "${folder}/")
      set(${out_var} ${folder} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out_var} "" PARENT_SCOPE)
endfunction()

# The folders a folder may reach: itself and everything below it. Fails when
# the arrows make a cycle, so the table itself can never allow one.
function(quellmail_layer_reach folder out_var)
  set(reached ${folder})
  set(queue ${folder})
  while(queue)
    list(POP_FRONT queue current)
    foreach(entry IN LISTS QUELLMAIL_LAYER_ARROWS)
      quellmail_layer_entry("${entry}" from arrows)
      if(NOT from STREQUAL current)
        continue()
      endif()
      foreach(to IN LISTS arrows)
        if(to STREQUAL folder)
          message(FATAL_ERROR "cmake/LayerGraph.cmake: the arrows from ${folder} lead back to it")
        endif()
        if(NOT to IN_LIST reached)
          list(APPEND reached ${to})
          list(APPEND queue ${to})
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out_var} "${reached}" PARENT_SCOPE)
endfunction()
