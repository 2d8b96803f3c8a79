// Log records through the framework's log: three PrintLog calls, the prefix
// "[QUV][short(line)] ", the message (its format begins "[%s][%d]" and takes
// the full signature text and the same line), then "\n".
#ifndef NPTV_BRIDGE_LOG_H
#define NPTV_BRIDGE_LOG_H

#include <quv/CQUVDebug.h>

#define NPTV_LOG_LEVEL(level, shortName, signature, format, ...)                             \
  do {                                                                                     \
    ::quv::CQUVDebug::PrintLog(0, (level), "[QUV][%s(%d)] ", (shortName), __LINE__);       \
    ::quv::CQUVDebug::PrintLog(0, (level), format, (signature), __LINE__, ##__VA_ARGS__); \
    ::quv::CQUVDebug::PrintLog(0, (level), "\n");                                          \
  } while (0)

// The usual record: leading numbers 0 and 4.
#define NPTV_LOG(shortName, signature, format, ...) \
  NPTV_LOG_LEVEL(4, shortName, signature, format, ##__VA_ARGS__)

#endif
