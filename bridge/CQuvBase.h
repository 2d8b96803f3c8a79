// The module's end of the connection to the TV service framework: opening and
// closing it, the Execute family that sends commands, the reply decoders, and
// the page's event handler with the event path to the browser's main thread.
#ifndef NPTV_BRIDGE_CQUVBASE_H
#define NPTV_BRIDGE_CQUVBASE_H

#include <atomic>
#include <cstddef>
#include <string>

#include <npapi.h>
#include <npruntime.h>
#include <quv/CQuvPluginWrapper.h>

// Record type of the first parameter of most Execute overloads and of every TV
// operation. Nothing reads it; every caller passes a null pointer.
struct _NPPluginObjInfo;

namespace NSPlTV {
class CQuvBase;
}

// One event on its way from the framework's thread to the main thread.
struct ExecuteParam {
  int type;
  NPP npp;               // the owner's m_NPP, filled on the main thread
  NPObject* callbackObj; // borrowed
  char* callbackName;    // borrowed
  char* param1;          // owned: in the record's own C-heap block, after it
  char* param2;          // owned: likewise, after param1
  NSPlTV::CQuvBase* owner;
  unsigned long long ownerSerial;  // which life of `owner` raised it
};

namespace NSPlTV {

class CQuvBase : public quv::CQuvPluginWrapper {
 public:
  explicit CQuvBase(char* widgetPath);
  virtual ~CQuvBase();

  // Framework callback, on the framework's thread.
  bool OnEvent(int type, std::string param1, std::string param2) override;

  bool Open(std::string name, std::string version, std::string credential);
  void Close();

  std::string Execute(std::string name, std::string p1, std::string p2, std::string p3,
                      std::string p4);
  std::string Execute(_NPPluginObjInfo* info, std::string name, std::string p1, std::string p2,
                      std::string p3, std::string p4);
  std::string Execute(_NPPluginObjInfo* info, std::string name, int i1, int i2, int i3, int i4);
  std::string Execute(_NPPluginObjInfo* info, std::string name, std::string text, int i2, int i3,
                      int i4);
  std::string Execute(_NPPluginObjInfo* info, std::string name, int i1, std::string text, int i3,
                      int i4);
  std::string ExecuteWithTenParameters(std::string name, std::string p1, std::string p2,
                                       std::string p3, std::string p4, std::string p5,
                                       std::string p6, std::string p7, std::string p8,
                                       std::string p9, std::string p10);
  std::string ExecuteWithTenParameters(_NPPluginObjInfo* info, std::string name, std::string p1,
                                       std::string p2, std::string p3, std::string p4,
                                       std::string p5, std::string p6, std::string p7,
                                       std::string p8, std::string p9, std::string p10);

  // Reply decoders. Each returns true when it recognised its marker and
  // produced a value; on false it writes nothing. The buffer decoders take the
  // caller's capacity in bytes and never write beyond it.
  static bool IsError(std::string& reply);
  static bool GetInteger(std::string& reply, int* value);
  static bool GetASCII(std::string& reply, std::string& text);
  static bool GetASCII(std::string& reply, char* buffer, std::size_t capacity);
  static bool GetUNICODE(std::string& reply, unsigned short* buffer, std::size_t capacity);

  // The instance this object belongs to; read by the framework's thread.
  std::atomic<NPP> m_NPP;
  NPObject* m_pEventCallbackObj;
  char* m_pszEventCallbackName;
  std::string m_strWidgetPath;
  // Distinguishes this object from any later one at the same address.
  const unsigned long long m_Serial;

 private:
  // Set by the first Close: the framework sees one Close per connection, even
  // when the owner closes early (before destruction begins) and the destructor
  // closes again.
  bool m_Closed;

  // The main-thread registry of live objects (Events.cpp): an event record
  // whose owner was destroyed before the record reached the main thread is
  // dropped without touching the owner.
  static void RegisterLive(CQuvBase* self);
  static void UnregisterLive(CQuvBase* self);
};

// The event path (main thread from AsyncEvent on).
void AsyncEvent(void* record);
void SetEventObject(ExecuteParam* record);
void TV_AsyncEvent(void* record);
void TV_AsyncEvent_str(void* record);

}  // namespace NSPlTV

#endif
