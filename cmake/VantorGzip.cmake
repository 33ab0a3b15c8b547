# SPDX-License-Identifier: MIT
# vantor_install_gzipped(FILE DESTINATION COMPONENT): installs FILE compressed as DESTINATION/<name>.gz.
# gzip -n leaves out the name and time stamp, so the same source gives the same bytes (Debian wants
# manual pages and changelogs compressed this way).
include_guard(GLOBAL)
find_program(VANTOR_GZIP gzip REQUIRED)

function(vantor_install_gzipped file destination component)
  get_filename_component(name ${file} NAME)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${component})
  add_custom_command(
    OUTPUT ${dir}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${dir}/${name}
    COMMAND ${VANTOR_GZIP} -9nf ${dir}/${name}
    DEPENDS ${file}
    VERBATIM)
  add_custom_target(gzip-${component}-${name} ALL DEPENDS ${dir}/${name}.gz)
  install(FILES ${dir}/${name}.gz DESTINATION ${destination} COMPONENT ${component})
endfunction()
