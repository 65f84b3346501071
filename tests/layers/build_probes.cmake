# Builds the two layer probes: the downward include must compile, the upward one must fail
# because its header is not on the store library's include path.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target qv_probe_store_includes_wire
                RESULT_VARIABLE down OUTPUT_VARIABLE downOut ERROR_VARIABLE downOut)
if(NOT down EQUAL 0)
  message(FATAL_ERROR "a store file including a wire header did not build:\n${downOut}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target qv_probe_store_includes_state
                RESULT_VARIABLE up OUTPUT_VARIABLE upOut ERROR_VARIABLE upOut)
if(up EQUAL 0)
  message(FATAL_ERROR "a store file including a state header built")
endif()
if(NOT upOut MATCHES "state/server.h: No such file")
  message(FATAL_ERROR "the upward probe failed for another reason:\n${upOut}")
endif()
message(STATUS "upward include refused by the build, downward include built")
