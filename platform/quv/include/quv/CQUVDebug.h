// The TV service framework's log.
#ifndef QUV_CQUVDEBUG_H
#define QUV_CQUVDEBUG_H

#define QUV_API __attribute__((visibility("default")))

namespace quv {

class QUV_API CQUVDebug {
 public:
  // Formats like printf; adds no line break.
  static void PrintLog(unsigned int module, unsigned int level, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
};

}  // namespace quv

#endif
