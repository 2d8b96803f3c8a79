// The framework's connection class: every wrapper is one connection.
#include <quv/CQuvPluginWrapper.h>

#include "Internal.h"
#include "sim/Simulator.h"

namespace quv {

struct CQuvPluginWrapper::Impl {
  unsigned id = 0;
};

CQuvPluginWrapper::CQuvPluginWrapper(CClientAppFactory::QUV_CLIENT_TYPE type)
    : m_pImpl(new Impl) {
  // A constructor that throws (no memory) runs no destructor: give back what
  // was taken here, so no connection points at a wrapper that never was.
  quvimpl::Library& lib = quvimpl::Library::Get();
  try {
    m_pImpl->id = lib.framework.Register(this, static_cast<int>(type));
    lib.StartControlSocket();
  } catch (...) {
    if (m_pImpl->id) lib.framework.Unregister(m_pImpl->id);
    delete m_pImpl;
    throw;
  }
}

CQuvPluginWrapper::~CQuvPluginWrapper() {
  if (quvimpl::Library::Alive()) {
    quvimpl::Library::Get().framework.Unregister(m_pImpl->id);
    quvimpl::Library::Get().Sim().Forget(m_pImpl->id);
  }
  delete m_pImpl;
}

bool CQuvPluginWrapper::OnEvent(int, std::string, std::string) { return true; }

bool CQuvPluginWrapper::Open(std::string name, std::string version, std::string credential) {
  if (!quvimpl::Library::Alive()) return false;
  if (quvimpl::Library::Get().framework.OpenRefused()) return false;
  return quvimpl::Library::Get().framework.Open(m_pImpl->id, name, version, credential);
}

void CQuvPluginWrapper::Close() {
  if (!quvimpl::Library::Alive()) return;
  quvimpl::Library::Get().framework.Close(m_pImpl->id);
  quvimpl::Library::Get().Sim().Forget(m_pImpl->id);  // the simulated TV's records of it
}

std::string CQuvPluginWrapper::Execute(std::string name, std::string p1, std::string p2,
                                       std::string p3, std::string p4) {
  if (!quvimpl::Library::Alive()) return "E";
  const std::string* const texts[] = {&name, &p1, &p2, &p3, &p4};
  return quvimpl::Library::Get().Execute(m_pImpl->id, {texts, 5});
}

std::string CQuvPluginWrapper::Execute(std::string name, std::string p1, std::string p2,
                                       std::string p3, std::string p4, std::string p5,
                                       std::string p6, std::string p7, std::string p8,
                                       std::string p9, std::string p10) {
  const std::string* const texts[] = {&name, &p1, &p2, &p3, &p4, &p5,
                                      &p6,   &p7, &p8, &p9, &p10};
  return quvimpl::Library::Get().Execute(m_pImpl->id, {texts, 11});
}

}  // namespace quv
