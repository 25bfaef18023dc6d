if(CPACK_GENERATOR STREQUAL "DEB" AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND dpkg-parsechangelog -l "${CMAKE_CURRENT_LIST_DIR}/changelog" -STimestamp
    OUTPUT_VARIABLE timestamp OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-parsechangelog: ${failed}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${timestamp}")
endif()
