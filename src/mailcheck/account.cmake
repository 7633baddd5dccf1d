# Each account's last-check state from the status records, and the connection test.
target_sources(quenbell_mailcheck PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AccountStateFeed.cpp ${CMAKE_CURRENT_LIST_DIR}/AccountStateFeed.h)
target_sources(quenbell_mailcheck PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ConnectionTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ConnectionTest.h)
