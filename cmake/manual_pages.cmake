# The manual pages, written in roff beside the programs they describe: each is installed
# compressed (as Debian keeps them) into share/man/man<section>.
include(GNUInstallDirs)

function(velmora_install_manual_page source)
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${name})
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name})
  # gzip -n leaves the file's name and time out, so that the same page makes the same bytes.
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${copy}
    COMMAND gzip -9 -n -f ${copy}
    DEPENDS ${source}
    COMMENT "Compressing the manual page ${name}"
    VERBATIM)
  add_custom_target(${name}_manual_page ALL DEPENDS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
