# Run by `cmake --install` (CMAKE_INSTALL_PREFIX is then the prefix given to it): writes the
# desktop entry with Exec naming the installed program, quoted as the program quotes it when it
# writes the entry itself (DesktopIntegration::quoteExecArgument), so both agree.
get_filename_component(_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
if(IS_ABSOLUTE "${MOSSBRIDGE_INSTALL_BINDIR}")
  set(_program "${MOSSBRIDGE_INSTALL_BINDIR}/mossbridge")
else()
  set(_program "${_prefix}/${MOSSBRIDGE_INSTALL_BINDIR}/mossbridge")
endif()

string(REPLACE "%" "%%" _exec "${_program}")
set(_quote FALSE)
foreach(_reserved " " "\t" "\n" "\"" "'" "\\" ">" "<" "~" "|" "&" "$" "*" "?" "#" "(" ")" "`")
  string(FIND "${_exec}" "${_reserved}" _at)
  if(_at GREATER -1)
    set(_quote TRUE)
  endif()
endforeach()
if(_quote)
  # Inside the quotes ", `, $ and \ take a backslash; the entry's string escaping then doubles
  # every backslash.
  string(REPLACE "\\" "\\\\" _exec "${_exec}")
  string(REPLACE "\"" "\\\"" _exec "${_exec}")
  string(REPLACE "`" "\\`" _exec "${_exec}")
  string(REPLACE "$" "\\$" _exec "${_exec}")
  string(REPLACE "\\" "\\\\" _exec "${_exec}")
  set(_exec "\"${_exec}\"")
endif()

file(READ "${MOSSBRIDGE_DESKTOP_TEMPLATE}" _entry)
string(REPLACE "@MOSSBRIDGE_EXEC@" "${_exec}" _entry "${_entry}")
file(WRITE "${MOSSBRIDGE_DESKTOP_STAGING}/app.mossbridge.Mossbridge.desktop" "${_entry}")
if(IS_ABSOLUTE "${MOSSBRIDGE_INSTALL_DATADIR}")
  set(_applications "${MOSSBRIDGE_INSTALL_DATADIR}/applications")
else()
  set(_applications "${_prefix}/${MOSSBRIDGE_INSTALL_DATADIR}/applications")
endif()
file(INSTALL DESTINATION "${_applications}" TYPE FILE
  FILES "${MOSSBRIDGE_DESKTOP_STAGING}/app.mossbridge.Mossbridge.desktop")
