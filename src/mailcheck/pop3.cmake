# Socket layer, TLS stream, line reader, POP3 session and the retrieved-message memory.
find_package(OpenSSL REQUIRED COMPONENTS SSL)
target_sources(quenbell_mailcheck PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Socket.cpp ${CMAKE_CURRENT_LIST_DIR}/Socket.h
  ${CMAKE_CURRENT_LIST_DIR}/TlsStream.cpp ${CMAKE_CURRENT_LIST_DIR}/TlsStream.h
  ${CMAKE_CURRENT_LIST_DIR}/LineReader.cpp ${CMAKE_CURRENT_LIST_DIR}/LineReader.h
  ${CMAKE_CURRENT_LIST_DIR}/Pop3Session.cpp ${CMAKE_CURRENT_LIST_DIR}/Pop3Session.h
  ${CMAKE_CURRENT_LIST_DIR}/MailSource.cpp ${CMAKE_CURRENT_LIST_DIR}/MailSource.h
  ${CMAKE_CURRENT_LIST_DIR}/Pop3Source.cpp ${CMAKE_CURRENT_LIST_DIR}/Pop3Source.h
  ${CMAKE_CURRENT_LIST_DIR}/ImapParser.cpp ${CMAKE_CURRENT_LIST_DIR}/ImapParser.h
  ${CMAKE_CURRENT_LIST_DIR}/ImapSession.cpp ${CMAKE_CURRENT_LIST_DIR}/ImapSession.h
  ${CMAKE_CURRENT_LIST_DIR}/OldUIDs.cpp ${CMAKE_CURRENT_LIST_DIR}/OldUIDs.h)
target_link_libraries(quenbell_mailcheck PRIVATE OpenSSL::SSL)
