# Run by CPack after it writes a package, before it copies it out and sums it.
# CPack's archive takes the staged files in the order the file system lists
# them, with their owner, the umask's modes and, in a ZIP, local times; this
# writes the archive again from the same files so that its bytes depend on them
# alone: entries sorted by name, modes 644 or 755, root as owner in the .tar.gz
# and none in the ZIP, whose dates are UTC. Every entry is dated
# SOURCE_DATE_EPOCH; unset, it is the last commit's time or, without git
# history, 1980-01-01 00:00:00 UTC, the earliest date a ZIP can hold.

set(date "$ENV{SOURCE_DATE_EPOCH}")
list(GET CPACK_BUILD_SOURCE_DIRS 0 source_dir)
if(date STREQUAL "" AND EXISTS "${source_dir}/.git")
  execute_process(COMMAND git -C "${source_dir}" log -1 --format=%ct
                  OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(date STREQUAL "")
  set(date 315532800)
elseif(NOT date MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a count of seconds: ${date}")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${date})
string(TIMESTAMP when "%Y-%m-%d %H:%M:%S UTC" UTC)
message(STATUS "Package entries dated ${when} (SOURCE_DATE_EPOCH=${date})")

# One package, its files staged in the folder it unpacks into.
set(staged "${CPACK_TEMPORARY_DIRECTORY}")
get_filename_component(top "${staged}" DIRECTORY)
get_filename_component(folder "${staged}" NAME)
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${top}" "${staged}/*") # sorted
execute_process(COMMAND chmod -R u+rw,go=u-w "${staged}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND touch -d @${date} "${folder}" ${entries}
                WORKING_DIRECTORY "${top}" COMMAND_ERROR_IS_FATAL ANY)

file(REMOVE "${CPACK_PACKAGE_FILES}")
if(CPACK_GENERATOR STREQUAL "TGZ")
  execute_process(COMMAND tar -c --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
                              -C "${top}" "${folder}"
                  COMMAND gzip -9 -n
                  OUTPUT_FILE "${CPACK_PACKAGE_FILES}" COMMAND_ERROR_IS_FATAL ANY)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  find_program(zip zip REQUIRED)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0 ${zip} -X -D -q -9 "${CPACK_PACKAGE_FILES}" ${entries}
                  WORKING_DIRECTORY "${top}" COMMAND_ERROR_IS_FATAL ANY)
else()
  message(FATAL_ERROR "No reproducible writer for CPack's ${CPACK_GENERATOR} packages")
endif()
