# Scripted POP3 server and the Dovecot fixture.
target_sources(quenbell_testsupport PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedPop3Server.cpp ${CMAKE_CURRENT_LIST_DIR}/ScriptedPop3Server.h
  ${CMAKE_CURRENT_LIST_DIR}/DovecotServer.cpp ${CMAKE_CURRENT_LIST_DIR}/DovecotServer.h)
