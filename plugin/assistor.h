// The assistor behind a scriptable object: the table of script method names and the handler bound to
// each, and the dispatch from an identifier to its handler.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "browser_table.h"
#include "npapi.h"
#include "pagebridge.h"

namespace np {

enum DispatchKind { kInvoke = 1, kSetProperty = 2, kGetProperty = 3 };

enum DispatchCode {
  kDispatchOk = 0,
  kNoSuchMember = 3,
  kBadArguments = 9,
  kNoMemory = 10,  // the browser gave no memory for a text result
};

template <typename Derived>
class CNpPluginAssistorT {
 public:
  using MethodHandler = DispatchCode (Derived::*)(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                                  NPVariant* result);

  CNpPluginAssistorT() = default;
  virtual ~CNpPluginAssistorT() {
    methodHandlers_.clear();
    propertyHandlers_.clear();
  }
  CNpPluginAssistorT(const CNpPluginAssistorT&) = delete;
  CNpPluginAssistorT& operator=(const CNpPluginAssistorT&) = delete;

  // Append the names the object answers to, in order, and bind their handlers.
  virtual void RegisterMethods(std::vector<std::string>& list) = 0;
  virtual void RegisterProperties(std::vector<std::string>& list) = 0;

  virtual DispatchCode Dispatch(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result,
                                DispatchKind kind) {
    MethodHandler handler = nullptr;
    if (kind == kInvoke) {
      auto it = methodHandlers_.find(name);
      if (it == methodHandlers_.end()) return kNoSuchMember;
      handler = it->second;
    } else if (kind == kGetProperty || kind == kSetProperty) {
      auto it = propertyHandlers_.find(name);
      if (it == propertyHandlers_.end()) return kNoSuchMember;
      handler = kind == kGetProperty ? it->second.first : it->second.second;
    } else {
      return kNoSuchMember;
    }
    if (!handler) return kNoSuchMember;
    return (static_cast<Derived*>(this)->*handler)(name, args, argCount, result);
  }

  // The process-wide token access object, looked up at each call: after NP_Shutdown there is none, and an
  // object the browser still holds answers as a plug-in without a module would.
  CPagebridgeWin32Impl* impl() const { return LivePagebridge(); }

 protected:
  // The first registration of a name stays; a name the browser cannot turn into an identifier is skipped.
  void RegisterMethod(std::vector<std::string>& list, const char* name, MethodHandler handler) {
    list.emplace_back(name);
    NPIdentifier id = BrowserStringIdentifier(name);
    if (id) methodHandlers_.emplace(id, handler);
  }

  std::map<NPIdentifier, MethodHandler> methodHandlers_;
  std::map<NPIdentifier, std::pair<MethodHandler, MethodHandler>> propertyHandlers_;  // getter, setter
};

// The assistor of the token object: the five script methods.
class CNpPluginAssistor : public CNpPluginAssistorT<CNpPluginAssistor> {
 public:
  // Brings up the process-wide token access object on first use. `npp` is the instance whose page the
  // assistor answers: "InitKey" asks the browser for that page's origin.
  explicit CNpPluginAssistor(NPP npp);

  void RegisterMethods(std::vector<std::string>& list) override;
  void RegisterProperties(std::vector<std::string>& list) override;

 private:
  DispatchCode OnInitKey(NPIdentifier, const NPVariant* args, uint32_t argCount, NPVariant* result);
  DispatchCode OnGetKeyCount(NPIdentifier, const NPVariant* args, uint32_t argCount, NPVariant* result);
  DispatchCode OnGetUKeySN(NPIdentifier, const NPVariant* args, uint32_t argCount, NPVariant* result);
  DispatchCode OnGetSN(NPIdentifier, const NPVariant* args, uint32_t argCount, NPVariant* result);
  DispatchCode OnGetAllCertCn(NPIdentifier, const NPVariant* args, uint32_t argCount, NPVariant* result);

  NPP npp_;
};

}  // namespace np
