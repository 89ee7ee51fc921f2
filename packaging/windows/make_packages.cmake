# Stages the files a Windows user gets, then zips them and wraps them in the
# installer. Run by the windows-packages target, which passes the paths.
set(name relaiskarte-${VERSION}-windows-x64)
set(stage ${WORK}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/Lizenzen/MinGW ${stage}/Lizenzen/Web ${DIST})
file(COPY ${PROGRAM} ${CONSOLE_TWIN} ${README} DESTINATION ${stage})
file(COPY_FILE ${LICENSE} ${stage}/LICENSE.txt)
if(NOT IS_DIRECTORY "${QT_LICENSES}/Qt")
  message(FATAL_ERROR "Qt's licence texts missing in '${QT_LICENSES}' (set RELAIS_QT_LICENSES)")
endif()
file(COPY ${QT_LICENSES}/Qt DESTINATION ${stage}/Lizenzen)
# OpenSSL (Apache 2.0) and libmosquitto (EPL 2.0 or, as taken here, EDL 1.0),
# linked in for the broker.
file(COPY ${DEPS_LICENSES}/ DESTINATION ${stage}/Lizenzen/MQTT)
file(COPY_FILE ${HTTPLIB_LICENSE} ${stage}/Lizenzen/Web/cpp-httplib.txt)
# The runtime parts MinGW links into the exe: GCC's (libstdc++, libgcc,
# under the GCC Runtime Library Exception) and MinGW-w64's (CRT, winpthreads).
file(COPY_FILE /usr/share/doc/gcc-mingw-w64-base/copyright ${stage}/Lizenzen/MinGW/GCC-Laufzeit.txt)
file(COPY_FILE /usr/share/doc/mingw-w64-common/copyright ${stage}/Lizenzen/MinGW/MinGW-w64.txt)

file(REMOVE ${DIST}/${name}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${DIST}/${name}.zip --format=zip ${name}
  WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE staged ${stage}/*)
set(bytes 0)
foreach(f IN LISTS staged)
  file(SIZE ${f} size)
  math(EXPR bytes "${bytes} + ${size}")
endforeach()
math(EXPR kilobytes "${bytes} / 1024")
execute_process(COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DSTAGE=${stage} -DICON=${ICON}
  -DOUTFILE=${DIST}/relaiskarte-${VERSION}-setup.exe -DSIZE_KB=${kilobytes} ${NSIS_SCRIPT}
  COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Windows packages in ${DIST}: ${name}.zip, relaiskarte-${VERSION}-setup.exe")
