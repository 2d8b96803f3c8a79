// A framework library built by "another party": the connection class of the
// public headers, compiled in the string ABI MOCK_STRING_ABI (0: the old one
// of GCC before 5, 1: the C++11 one), without the ten-text Execute when
// MOCK_WITHOUT_EXECUTE10 is defined. It only has to link; nothing calls it.
#undef _GLIBCXX_USE_CXX11_ABI
#define _GLIBCXX_USE_CXX11_ABI MOCK_STRING_ABI

#include <quv/CQUVDebug.h>
#include <quv/CQuvPluginWrapper.h>

namespace quv {

struct CQuvPluginWrapper::Impl {};

CQuvPluginWrapper::CQuvPluginWrapper(CClientAppFactory::QUV_CLIENT_TYPE) : m_pImpl(nullptr) {}
CQuvPluginWrapper::~CQuvPluginWrapper() {}
bool CQuvPluginWrapper::OnEvent(int, std::string, std::string) { return true; }
bool CQuvPluginWrapper::Open(std::string, std::string, std::string) { return true; }
void CQuvPluginWrapper::Close() {}

std::string CQuvPluginWrapper::Execute(std::string, std::string, std::string, std::string,
                                       std::string) {
  return "E";
}

#ifndef MOCK_WITHOUT_EXECUTE10
std::string CQuvPluginWrapper::Execute(std::string, std::string, std::string, std::string,
                                       std::string, std::string, std::string, std::string,
                                       std::string, std::string, std::string) {
  return "E";
}
#endif

void CQUVDebug::PrintLog(unsigned int, unsigned int, const char*, ...) {}

}  // namespace quv
