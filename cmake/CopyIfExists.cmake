# cmake -DSRC=file -DDST=file -P CopyIfExists.cmake: copies SRC to DST when SRC exists.
if(EXISTS "${SRC}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${SRC}" "${DST}")
endif()
