# A private D-Bus session with a real Secret Service (gnome-keyring-daemon).
target_sources(quenbell_testsupport PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SecretService.cpp ${CMAKE_CURRENT_LIST_DIR}/SecretService.h)
