# Run by CPack after it writes a package, before it copies it out and sums it.
# CPack's archive takes the staged files in the order the file system lists
# them, with their owner, the umask's modes and, in a ZIP, local times; this
# writes the archive again from the same files so that its bytes depend on them
# alone: entries sorted by name, modes 644 or 755, root as owner in the .tar.gz
# and none in the ZIP, whose dates are UTC. Every entry is dated
# SOURCE_DATE_EPOCH; unset, it is the last commit's time or, without git
# history, the date in the file SOURCE_DATE_EPOCH that the source package
# carries, else 1980-01-01 00:00:00 UTC, the earliest date a ZIP can hold.
# The source package it stages itself: the files git tracks or, without git
# history, every file but build/, and that file.

# CPack copies out and sums whatever archive is left when this script ends, even
# when it fails: so its own goes first, with any package and checksum of an
# earlier run in the output folder, and the archive written here takes the
# package's name only once it is whole.
set(part "${CPACK_PACKAGE_FILES}.part")
file(REMOVE "${CPACK_PACKAGE_FILES}" "${part}" "${CPACK_OUTPUT_FILE_PATH}" "${CPACK_OUTPUT_FILE_PATH}.sha256")

list(GET CPACK_BUILD_SOURCE_DIRS 0 source_dir)
# git reads the sources' history as it is: no GIT_* variable of the caller's, and no system or
# global settings or attributes. What the environment holds, one variable a line, read by name.
execute_process(COMMAND ${CMAKE_COMMAND} -E environment OUTPUT_VARIABLE environment)
string(REGEX MATCHALL "(^|\n)GIT_[A-Za-z0-9_]*=" names "${environment}")
foreach(name IN LISTS names)
  string(REGEX REPLACE "^\n?(.*)=$" "\\1" name "${name}")
  unset(ENV{${name}})
endforeach()
foreach(setting GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null GIT_ATTR_NOSYSTEM=1
                GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=core.attributesFile GIT_CONFIG_VALUE_0=/dev/null)
  string(REGEX MATCH "^([^=]*)=(.*)$" _ "${setting}")
  set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
endforeach()
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(date "$ENV{SOURCE_DATE_EPOCH}")
  set(from "the environment's SOURCE_DATE_EPOCH")
elseif(EXISTS "${source_dir}/.git")
  # Git history that git cannot read is an error, never a reason for another date.
  # The commit as it is, whatever replace refs or log.showSignature say.
  execute_process(COMMAND git --no-replace-objects -C "${source_dir}" log -1 --no-show-signature --format=%ct
                  RESULT_VARIABLE failed OUTPUT_VARIABLE date ERROR_VARIABLE why
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "No package: git cannot read the last commit's date in ${source_dir}"
                        " (git: ${failed}). ${why}Set SOURCE_DATE_EPOCH to it, or let git read the repository.")
  endif()
  set(from "the last commit")
elseif(EXISTS "${source_dir}/SOURCE_DATE_EPOCH")
  file(READ "${source_dir}/SOURCE_DATE_EPOCH" date)
  string(STRIP "${date}" date)
  set(from "the file SOURCE_DATE_EPOCH")
else()
  set(date 315532800)
  set(from "no date in the sources")
endif()
if(NOT date MATCHES "^[0-9]+$")
  message(FATAL_ERROR "No package: ${from} is not a count of seconds: ${date}")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${date})
string(TIMESTAMP when "%Y-%m-%d %H:%M:%S UTC" UTC)
message(STATUS "Package entries dated ${when} (${date}, from ${from})")

# One package, its files staged in the folder it unpacks into.
set(staged "${CPACK_TEMPORARY_DIRECTORY}")
get_filename_component(top "${staged}" DIRECTORY)
get_filename_component(folder "${staged}" NAME)
if(CPACK_INSTALLED_DIRECTORIES) # the source package
  # Staged here from scratch: CPack's copy finds the files through a pattern
  # made of the source folder's path, which finds none where it holds brackets.
  file(REMOVE_RECURSE "${staged}")
  file(MAKE_DIRECTORY "${staged}")
  if(EXISTS "${source_dir}/.git")
    # The files git tracks, as they stand, and nothing untracked or ignored.
    execute_process(COMMAND git -C "${source_dir}" ls-files -z OUTPUT_FILE "${top}/tracked"
                    RESULT_VARIABLE failed ERROR_VARIABLE why)
    if(failed)
      message(FATAL_ERROR "No package: git cannot list the files it tracks in ${source_dir}"
                          " (git: ${failed}). ${why}Let git read the repository.")
    endif()
    set(files --null -T "${top}/tracked")
  else()
    set(files --anchored --exclude=./build .) # every file but build/
  endif()
  execute_process(COMMAND tar -c -C "${source_dir}" ${files}
                  COMMAND tar -x -C "${staged}" COMMAND_ERROR_IS_FATAL ANY)
  # The date goes with the sources, so that they make the same packages again.
  file(WRITE "${staged}/SOURCE_DATE_EPOCH" "${date}\n")
endif()
execute_process(COMMAND chmod -R u+rw,go=u-w "${staged}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find "${staged}" -exec touch -d @${date} {} + COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_GENERATOR STREQUAL "TGZ")
  set(writer "tar | gzip")
  execute_process(COMMAND tar -c --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
                              -C "${top}" "${folder}"
                  COMMAND gzip -9 -n
                  OUTPUT_FILE "${part}" RESULTS_VARIABLE status)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  # The entries sorted by name, read by zip as they stand, never as wildcards.
  set(writer "find | sort | zip")
  find_program(zip zip REQUIRED)
  execute_process(COMMAND find "${folder}"
                  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C sort
                  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0 ${zip} -X -D -q -9 "${part}" -nw -@
                  WORKING_DIRECTORY "${top}" RESULTS_VARIABLE status)
else()
  message(FATAL_ERROR "No reproducible writer for CPack's ${CPACK_GENERATOR} packages")
endif()
if(NOT status MATCHES "^0(;0)*$")
  string(REPLACE ";" ", " status "${status}")
  message(FATAL_ERROR "No package: ${writer} failed to write ${CPACK_OUTPUT_FILE_NAME} (exit status ${status})")
endif()
file(RENAME "${part}" "${CPACK_PACKAGE_FILES}")
