# Strips each native file into OUT and records the SHA-256 of each stripped file in
# OUT/SHA256SUMS, one "digest  name" line each, as sha256sum writes them. The debug information
# goes to DEBUG/.build-id/xx/yyyy.debug, where debuggers look for it by the file's build ID, and
# the stripped file names it in its debug link. Run with cmake -P, given FILES (a list), OUT,
# DEBUG, OBJCOPY and READELF.
file(REMOVE_RECURSE ${OUT} ${DEBUG})
file(MAKE_DIRECTORY ${OUT})
set(sums "")
foreach(input IN LISTS FILES)
  cmake_path(GET input FILENAME name)
  execute_process(COMMAND ${READELF} --notes ${input} OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
  if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${input} has no build ID: link it with -Wl,--build-id")
  endif()
  set(debug ${DEBUG}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug)
  cmake_path(GET debug PARENT_PATH debug_dir)
  file(MAKE_DIRECTORY ${debug_dir})
  execute_process(COMMAND ${OBJCOPY} --only-keep-debug --compress-debug-sections=zlib ${input} ${debug}
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${OBJCOPY} --strip-unneeded --remove-section=.comment
                          --add-gnu-debuglink=${debug} ${input} ${OUT}/${name}
                  COMMAND_ERROR_IS_FATAL ANY)
  # Shared libraries are not executable, the helper is (the modes a package installs).
  if(name MATCHES "\\.so$")
    file(CHMOD ${OUT}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  file(CHMOD ${debug} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(SHA256 ${OUT}/${name} digest)
  string(APPEND sums "${digest}  ${name}\n")
endforeach()
file(WRITE ${OUT}/SHA256SUMS "${sums}")
