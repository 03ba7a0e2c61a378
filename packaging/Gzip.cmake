# orbelt_gzip(SOURCE NAME OUTPUT_VARIABLE): SOURCE compressed into NAME.gz in the current
# build directory, made with every build. gzip -9n as Debian wants it: no file name or time
# stamp inside, so the same text always gives the same bytes.
function(orbelt_gzip source name outputVariable)
  set(plain ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${plain}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
                     COMMAND gzip -9nf ${plain}
                     DEPENDS ${source}
                     VERBATIM)
  add_custom_target(orbelt_gzip_${name} ALL DEPENDS ${plain}.gz)
  set(${outputVariable} ${plain}.gz PARENT_SCOPE)
endfunction()
