// The scriptable object a page talks to: one static NPClass whose callbacks forward to virtual operations
// of the object that encloses the browser's NPObject, and the token object built on it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "assistor.h"
#include "npapi.h"

namespace np {

extern NPClass ScriptableClass;

// Answers false to everything. Derives from NPObject so the browser's class pointer and reference count
// live inside the object; the NPClass callbacks convert with static_cast.
class CJSNPObject : public NPObject {
 public:
  CJSNPObject() : NPObject{} {}
  virtual ~CJSNPObject() = default;
  CJSNPObject(const CJSNPObject&) = delete;
  CJSNPObject& operator=(const CJSNPObject&) = delete;

  virtual void Invalidate() {}
  virtual bool HasMethod(NPIdentifier) { return false; }
  virtual bool Invoke(NPIdentifier, const NPVariant*, uint32_t, NPVariant*) { return false; }
  virtual bool InvokeDefault(const NPVariant*, uint32_t, NPVariant*) { return false; }
  virtual bool HasProperty(NPIdentifier) { return false; }
  virtual bool GetProperty(NPIdentifier, NPVariant*) { return false; }
  virtual bool SetProperty(NPIdentifier, const NPVariant*) { return false; }
  virtual bool RemoveProperty(NPIdentifier) { return false; }
  virtual bool Enumerate(NPIdentifier**, uint32_t*) { return false; }
  virtual bool Construct(const NPVariant*, uint32_t, NPVariant*) { return false; }
};

class CQVPTANpObj;

// What a script name resolves to on the object: the member that forwards to the assistor.
struct ForwardEntry {
  DispatchCode (CQVPTANpObj::*function)(NPIdentifier, const NPVariant*, uint32_t, NPVariant*, DispatchKind);
};

class CQVPTANpObj : public CJSNPObject {
 public:
  explicit CQVPTANpObj(NPP npp);
  ~CQVPTANpObj() override;

  bool HasMethod(NPIdentifier name) override;
  bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) override;
  bool HasProperty(NPIdentifier name) override;
  bool GetProperty(NPIdentifier name, NPVariant* result) override;
  bool SetProperty(NPIdentifier name, const NPVariant* value) override;
  bool RemoveProperty(NPIdentifier name) override;

  NPP npp() const { return npp_; }

 private:
  DispatchCode Forward(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result,
                       DispatchKind kind);
  // Maps each listed name to the forwarder; stops at the first name already present.
  void FillTable(const std::vector<std::string>& list, std::map<NPIdentifier, ForwardEntry>& table);

  NPP npp_;
  std::map<NPIdentifier, ForwardEntry> methods_;
  std::map<NPIdentifier, ForwardEntry> properties_;
  std::unique_ptr<CNpPluginAssistor> assistor_;
};

}  // namespace np
