#include "jsobject.h"

#include <new>

namespace np {
namespace {

// No exception may cross back into the browser: every callback answers false (or null) instead.
template <typename F>
bool Guarded(NPObject* obj, F&& f) {
  if (!obj) return false;
  try {
    return f(static_cast<CJSNPObject*>(obj));
  } catch (...) {
    return false;
  }
}

NPObject* Allocate(NPP npp, NPClass*) {
  try {
    return new CQVPTANpObj(npp);
  } catch (...) {
    return nullptr;
  }
}

void Deallocate(NPObject* obj) {
  if (obj) delete static_cast<CJSNPObject*>(obj);
}

void InvalidateCb(NPObject* obj) {
  Guarded(obj, [](CJSNPObject* o) {
    o->Invalidate();
    return true;
  });
}

bool HasMethodCb(NPObject* obj, NPIdentifier name) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->HasMethod(name); });
}

bool InvokeCb(NPObject* obj, NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->Invoke(name, args, argCount, result); });
}

bool InvokeDefaultCb(NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->InvokeDefault(args, argCount, result); });
}

bool HasPropertyCb(NPObject* obj, NPIdentifier name) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->HasProperty(name); });
}

bool GetPropertyCb(NPObject* obj, NPIdentifier name, NPVariant* result) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->GetProperty(name, result); });
}

bool SetPropertyCb(NPObject* obj, NPIdentifier name, const NPVariant* value) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->SetProperty(name, value); });
}

bool RemovePropertyCb(NPObject* obj, NPIdentifier name) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->RemoveProperty(name); });
}

bool EnumerateCb(NPObject* obj, NPIdentifier** ids, uint32_t* count) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->Enumerate(ids, count); });
}

bool ConstructCb(NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  return Guarded(obj, [&](CJSNPObject* o) { return o->Construct(args, argCount, result); });
}

}  // namespace

NPClass ScriptableClass = {
    NP_CLASS_STRUCT_VERSION_CTOR, Allocate,      Deallocate,       InvalidateCb, HasMethodCb,
    InvokeCb,                     InvokeDefaultCb, HasPropertyCb,  GetPropertyCb, SetPropertyCb,
    RemovePropertyCb,             EnumerateCb,   ConstructCb,
};

CQVPTANpObj::CQVPTANpObj(NPP npp) : npp_(npp), assistor_(std::make_unique<CNpPluginAssistor>(npp)) {
  std::vector<std::string> list;
  assistor_->RegisterMethods(list);
  FillTable(list, methods_);
  list.clear();
  assistor_->RegisterProperties(list);
  FillTable(list, properties_);
}

CQVPTANpObj::~CQVPTANpObj() {
  // The assistor goes first: the tables only name its members.
  assistor_.reset();
  methods_.clear();
  properties_.clear();
}

void CQVPTANpObj::FillTable(const std::vector<std::string>& list, std::map<NPIdentifier, ForwardEntry>& table) {
  for (const std::string& name : list) {
    NPIdentifier id = BrowserStringIdentifier(name.c_str());
    if (!id) continue;
    if (!table.emplace(id, ForwardEntry{&CQVPTANpObj::Forward}).second) break;
  }
}

DispatchCode CQVPTANpObj::Forward(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                  NPVariant* result, DispatchKind kind) {
  return assistor_->Dispatch(name, args, argCount, result, kind);
}

bool CQVPTANpObj::HasMethod(NPIdentifier name) { return methods_.count(name) != 0; }

bool CQVPTANpObj::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  auto it = methods_.find(name);
  if (it == methods_.end()) return false;
  return (this->*it->second.function)(name, args, argCount, result, kInvoke) == kDispatchOk;
}

bool CQVPTANpObj::HasProperty(NPIdentifier name) { return properties_.count(name) != 0; }

bool CQVPTANpObj::GetProperty(NPIdentifier name, NPVariant* result) {
  auto it = properties_.find(name);
  if (it == properties_.end()) return false;
  return (this->*it->second.function)(name, nullptr, 0, result, kGetProperty) == kDispatchOk;
}

bool CQVPTANpObj::SetProperty(NPIdentifier name, const NPVariant* value) {
  auto it = properties_.find(name);
  if (it == properties_.end() || !value) return false;
  NPVariant scratch{};
  return (this->*it->second.function)(name, value, 1, &scratch, kSetProperty) == kDispatchOk;
}

bool CQVPTANpObj::RemoveProperty(NPIdentifier name) { return properties_.erase(name) != 0; }

}  // namespace np
