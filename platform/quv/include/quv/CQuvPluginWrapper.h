// The TV service framework's connection class, as the plug-in module uses it.
// The binary layout is fixed (a virtual table pointer and one implementation
// pointer) so that another build of the framework can replace this one without
// recompiling the module.
#ifndef QUV_CQUVPLUGINWRAPPER_H
#define QUV_CQUVPLUGINWRAPPER_H

#include <string>

#include <quv/CClientAppFactory.h>

#define QUV_API __attribute__((visibility("default")))

namespace quv {

class QUV_API CQuvPluginWrapper {
 public:
  explicit CQuvPluginWrapper(CClientAppFactory::QUV_CLIENT_TYPE type);
  virtual ~CQuvPluginWrapper();

  // Called by the framework, on a thread of its own, for each notification.
  virtual bool OnEvent(int type, std::string param1, std::string param2);

  bool Open(std::string name, std::string version, std::string credential);
  void Close();

  // A command name and four parameter texts; returns the reply synchronously.
  std::string Execute(std::string name, std::string p1, std::string p2, std::string p3,
                      std::string p4);
  // A command name and ten parameter texts.
  std::string Execute(std::string name, std::string p1, std::string p2, std::string p3,
                      std::string p4, std::string p5, std::string p6, std::string p7,
                      std::string p8, std::string p9, std::string p10);

 private:
  CQuvPluginWrapper(const CQuvPluginWrapper&) = delete;
  CQuvPluginWrapper& operator=(const CQuvPluginWrapper&) = delete;

  struct Impl;
  Impl* m_pImpl;  // the only data member
};

}  // namespace quv

#endif
