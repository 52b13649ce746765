# Writes OUT: the export list IN without the name DROP, which it must hold.
#   cmake -DIN=... -DOUT=... -DDROP=... -P drop_export.cmake
file(READ ${IN} text)
string(REGEX REPLACE "\n    ${DROP}\n" "\n" cut "${text}")
if(cut STREQUAL text)
  message(FATAL_ERROR "${IN} has no ${DROP}")
endif()
file(WRITE ${OUT} "${cut}")
