# Socket layer, line reader, POP3 session and the retrieved-message memory.
target_sources(quenbell_mailcheck PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Socket.cpp ${CMAKE_CURRENT_LIST_DIR}/Socket.h
  ${CMAKE_CURRENT_LIST_DIR}/LineReader.cpp ${CMAKE_CURRENT_LIST_DIR}/LineReader.h
  ${CMAKE_CURRENT_LIST_DIR}/Pop3Session.cpp ${CMAKE_CURRENT_LIST_DIR}/Pop3Session.h
  ${CMAKE_CURRENT_LIST_DIR}/OldUIDs.cpp ${CMAKE_CURRENT_LIST_DIR}/OldUIDs.h)
