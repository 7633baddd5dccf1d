# Order record, country and name helpers, and the analyzer plug-in host.
target_sources(quenbell_analysis PRIVATE
  CountryCode.cpp CountryCode.h
  NameParser.cpp NameParser.h
  OMAnalyze.cpp OMAnalyze.h
  ParserInf.h
  PluginGuard.cpp PluginGuard.h
  PluginHostClient.cpp PluginHostClient.h
  PluginProtocol.cpp PluginProtocol.h)
