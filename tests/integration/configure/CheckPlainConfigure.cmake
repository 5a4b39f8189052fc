# Configures the sources with nothing but -S and -B (tests and benchmarks left as they
# default) and checks that the build knows the three programs and that the output said so.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "plain configure failed:\n${output}\n${errors}")
endif()
if(NOT output MATCHES "building the window program corvane")
  message(FATAL_ERROR "the configure output does not say whether the window is built:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR} --target help
  OUTPUT_VARIABLE targets RESULT_VARIABLE result)
foreach(program corvane corvane-cli cnc-sim)
  if(NOT targets MATCHES "(^|\n)${program}:")
    message(FATAL_ERROR "a plain configure does not build ${program}:\n${targets}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
