# Scripted POP3 server (plain or TLS), the Dovecot fixture and the test CA.
find_package(OpenSSL REQUIRED COMPONENTS SSL)
target_sources(quenbell_testsupport PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedPop3Server.cpp ${CMAKE_CURRENT_LIST_DIR}/ScriptedPop3Server.h
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedImapServer.cpp ${CMAKE_CURRENT_LIST_DIR}/ScriptedImapServer.h
  ${CMAKE_CURRENT_LIST_DIR}/DovecotServer.cpp ${CMAKE_CURRENT_LIST_DIR}/DovecotServer.h
  ${CMAKE_CURRENT_LIST_DIR}/TestCertificates.cpp ${CMAKE_CURRENT_LIST_DIR}/TestCertificates.h)
target_link_libraries(quenbell_testsupport PRIVATE OpenSSL::SSL OpenSSL::Crypto)
