// Client kinds of the TV service framework.
#ifndef QUV_CCLIENTAPPFACTORY_H
#define QUV_CCLIENTAPPFACTORY_H

namespace quv {

class CClientAppFactory {
 public:
  enum QUV_CLIENT_TYPE { QUV_CLIENT_TYPE_PLUGIN = 1 };
};

}  // namespace quv

#endif
