# The check worker and the account check.
target_sources(quenbell_mailcheck PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/OrderMailUtils.cpp ${CMAKE_CURRENT_LIST_DIR}/OrderMailUtils.h
  ${CMAKE_CURRENT_LIST_DIR}/ImapWatch.cpp ${CMAKE_CURRENT_LIST_DIR}/ImapWatch.h
  ${CMAKE_CURRENT_LIST_DIR}/OrderStoreHook.h)
