// The connection to the TV service framework: opening, closing and the
// Execute family that turns typed command calls into the framework's all-text
// Execute.
#include "bridge/CQuvBase.h"

#include <utility>

#include "bridge/Log.h"
#include "module/NPNFuncs.h"

namespace NSPlTV {

namespace {

// Process-wide: every CQuvBase gets its own number, never reused.
std::atomic<unsigned long long> sNextSerial{1};

// An integer as the framework receives it: its "%d" text (at most 11 bytes,
// so the string never allocates).
inline std::string IntText(int value) {
  if (static_cast<unsigned>(value) < 10) {  // the commonest: one digit
    std::string text;
    text.push_back(static_cast<char>('0' + value));
    return text;
  }
  char digits[12];  // "-2147483648" is 11 bytes
  char* p = digits + sizeof digits;
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) *--p = '-';
  return std::string(p, digits + sizeof digits);
}

}  // namespace

CQuvBase::CQuvBase(char* widgetPath)
    : quv::CQuvPluginWrapper(static_cast<quv::CClientAppFactory::QUV_CLIENT_TYPE>(1)),
      m_NPP(nullptr),
      m_pEventCallbackObj(nullptr),
      m_pszEventCallbackName(nullptr),
      m_strWidgetPath(widgetPath ? widgetPath : ""),
      m_Serial(sNextSerial.fetch_add(1)),
      m_Closed(false) {
  RegisterLive(this);
  try {
    std::string credential = std::string("TV") + "|widgetpath|" + m_strWidgetPath;
    NPTV_LOG("CQuvBase", "CQuvBase", "[%s][%d]BBQ!! credential is called.  \n");
    Open("TV", "1.0", credential);
  } catch (...) {
    // No destructor of ours runs for a constructor that throws: close what may
    // have been opened, so the framework never sees its wrapper destroyed open.
    Close();
    UnregisterLive(this);
    throw;
  }
}

CQuvBase::~CQuvBase() {
  Close();
  if (m_pEventCallbackObj) NPNFuncs.releaseobject(m_pEventCallbackObj);
  if (m_pszEventCallbackName) NPNFuncs.memfree(m_pszEventCallbackName);
  m_pEventCallbackObj = nullptr;
  m_pszEventCallbackName = nullptr;
  m_NPP = nullptr;
  UnregisterLive(this);
}

bool CQuvBase::Open(std::string name, std::string version, std::string credential) {
  NPTV_LOG("Open", "bool NSPlTV::CQuvBase::Open(std::string, std::string, std::string)",
           "[%s][%d] %s / %s / %s\n", name.c_str(), version.c_str(), credential.c_str());
  return quv::CQuvPluginWrapper::Open(name, version, credential);
}

void CQuvBase::Close() {
  if (m_Closed) return;
  m_Closed = true;
  quv::CQuvPluginWrapper::Close();
}

std::string CQuvBase::Execute(std::string name, std::string p1, std::string p2, std::string p3,
                              std::string p4) {
  return quv::CQuvPluginWrapper::Execute(std::move(name), std::move(p1), std::move(p2),
                                         std::move(p3), std::move(p4));
}

std::string CQuvBase::Execute(_NPPluginObjInfo*, std::string name, std::string p1, std::string p2,
                              std::string p3, std::string p4) {
  return Execute(std::move(name), std::move(p1), std::move(p2), std::move(p3), std::move(p4));
}

// The typed overloads hand their texts straight to the framework: each text
// is built once, in place, and never copied on the way.
std::string CQuvBase::Execute(_NPPluginObjInfo*, std::string name, int i1, int i2, int i3,
                              int i4) {
  return quv::CQuvPluginWrapper::Execute(std::move(name), IntText(i1), IntText(i2), IntText(i3),
                                         IntText(i4));
}

std::string CQuvBase::Execute(_NPPluginObjInfo*, std::string name, std::string text, int i2,
                              int i3, int i4) {
  return quv::CQuvPluginWrapper::Execute(std::move(name), std::move(text), IntText(i2),
                                         IntText(i3), IntText(i4));
}

std::string CQuvBase::Execute(_NPPluginObjInfo*, std::string name, int i1, std::string text,
                              int i3, int i4) {
  return quv::CQuvPluginWrapper::Execute(std::move(name), IntText(i1), std::move(text),
                                         IntText(i3), IntText(i4));
}

std::string CQuvBase::ExecuteWithTenParameters(std::string name, std::string p1, std::string p2,
                                               std::string p3, std::string p4, std::string p5,
                                               std::string p6, std::string p7, std::string p8,
                                               std::string p9, std::string p10) {
  return quv::CQuvPluginWrapper::Execute(
      std::move(name), std::move(p1), std::move(p2), std::move(p3), std::move(p4), std::move(p5),
      std::move(p6), std::move(p7), std::move(p8), std::move(p9), std::move(p10));
}

std::string CQuvBase::ExecuteWithTenParameters(_NPPluginObjInfo*, std::string name, std::string p1,
                                               std::string p2, std::string p3, std::string p4,
                                               std::string p5, std::string p6, std::string p7,
                                               std::string p8, std::string p9, std::string p10) {
  return ExecuteWithTenParameters(std::move(name), std::move(p1), std::move(p2), std::move(p3),
                                  std::move(p4), std::move(p5), std::move(p6), std::move(p7),
                                  std::move(p8), std::move(p9), std::move(p10));
}

}  // namespace NSPlTV
