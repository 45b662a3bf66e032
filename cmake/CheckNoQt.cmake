# Fails when any of the given static libraries refers to a Qt symbol: the core stays toolkit-free.
# Usage: cmake -DLIBS="a.a;b.a" -P CheckNoQt.cmake
foreach(lib IN LISTS LIBS)
  execute_process(COMMAND nm -C ${lib} OUTPUT_VARIABLE syms RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${lib}")
  endif()
  string(REGEX MATCHALL "[^\n]*(Q[A-Z][A-Za-z]+::|qt_[a-z]|QString|QObject)[^\n]*" hits "${syms}")
  if(hits)
    list(GET hits 0 first)
    message(FATAL_ERROR "${lib} uses Qt: ${first}")
  endif()
endforeach()
message(STATUS "no Qt symbol in: ${LIBS}")
