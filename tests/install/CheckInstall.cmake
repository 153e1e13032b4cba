# Installs the build into a fresh prefix and checks what a desktop needs from it: the program, its
# desktop entry (valid, naming the installed program and icon) and the icon in every theme size,
# each PNG as large as its folder says.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DBINDIR=bin -DDATADIR=share -DVALIDATE=desktop-file-validate -P CheckInstall.cmake

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

set(program "${PREFIX}/${BINDIR}/vocalynx")
set(entry "${PREFIX}/${DATADIR}/applications/vocalynx.desktop")
foreach(path "${program}" "${entry}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
execute_process(COMMAND test -x "${program}" RESULT_VARIABLE notExecutable)
if(NOT notExecutable EQUAL 0)
  message(FATAL_ERROR "installed but not executable: ${program}")
endif()

foreach(size 16 32 48 64 128 256)
  set(icon "${PREFIX}/${DATADIR}/icons/hicolor/${size}x${size}/apps/vocalynx.png")
  if(NOT EXISTS "${icon}")
    message(FATAL_ERROR "not installed: ${icon}")
  endif()
  # The PNG signature, then the header chunk: width and height are bytes 16 to 23.
  file(READ "${icon}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 8 widthHex)
  string(SUBSTRING "${header}" 40 8 heightHex)
  math(EXPR width "0x${widthHex}")
  math(EXPR height "0x${heightHex}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR "${icon}: not a ${size} x ${size} PNG (signature ${signature}, ${width} x ${height})")
  endif()
endforeach()

execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE invalid OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT invalid EQUAL 0)
  message(FATAL_ERROR "desktop-file-validate rejects ${entry}:\n${out}${err}")
endif()
# The menu starts the installed program and shows the installed icon.
file(STRINGS "${entry}" execLine REGEX "^Exec=")
file(STRINGS "${entry}" iconLine REGEX "^Icon=")
if(NOT execLine STREQUAL "Exec=vocalynx" OR NOT iconLine STREQUAL "Icon=vocalynx")
  message(FATAL_ERROR "${entry}: '${execLine}' and '${iconLine}' do not name the installed program and icon")
endif()
message(STATUS "installed into ${PREFIX}: program, desktop entry and icons")
