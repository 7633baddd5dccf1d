# Mail reading: header decoding, the message reader and TMsgType.
target_sources(quenbell_analysis PRIVATE
  MailBase.cpp MailBase.h
  MailLines.cpp MailLines.h
  MailMessage.cpp MailMessage.h
  MsgType.cpp MsgType.h)
