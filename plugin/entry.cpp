// The library's exports and the instance callbacks the browser calls through NPPluginFuncs. The plug-in
// draws nothing and takes no stream data; its one service is the scriptable object of each instance.
#include <windows.h>

#include <cstring>
#include <new>

#include "browser_table.h"
#include "jsobject.h"
#include "npapi.h"
#include "pagebridge.h"

namespace np {
namespace {

struct PluginInstanceData {
  NPP npp = nullptr;
  NPObject* scriptable = nullptr;  // one reference owned by the record
};

constexpr char kPluginName[] = "NPRuntimeTest";
constexpr char kPluginDescription[] = "NPRuntime scriptability API test plugin";

NPError NppNew(NPMIMEType, NPP instance, uint16_t, int16_t, char*[], char*[], NPSavedData*) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  auto* data = new (std::nothrow) PluginInstanceData;
  if (!data) return NPERR_OUT_OF_MEMORY_ERROR;
  data->npp = instance;
  instance->pdata = data;
  return NPERR_NO_ERROR;
}

NPError NppDestroy(NPP instance, NPSavedData**) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  auto* data = static_cast<PluginInstanceData*>(instance->pdata);
  if (!data) return NPERR_NO_ERROR;
  if (data->scriptable) {
    BrowserReleaseObject(data->scriptable);
    data->scriptable = nullptr;
  }
  delete data;
  // A browser that asks this NPP again must find no record rather than freed memory.
  instance->pdata = nullptr;
  return NPERR_NO_ERROR;
}

NPError NppSetWindow(NPP, NPWindow*) { return NPERR_NO_ERROR; }
NPError NppNewStream(NPP, NPMIMEType, NPStream*, NPBool, uint16_t*) { return NPERR_NO_ERROR; }
NPError NppDestroyStream(NPP, NPStream*, NPReason) { return NPERR_NO_ERROR; }
void NppStreamAsFile(NPP, NPStream*, const char*) {}
int32_t NppWriteReady(NPP, NPStream*) { return 0; }
int32_t NppWrite(NPP, NPStream*, int32_t, int32_t, void*) { return 0; }
void NppPrint(NPP, NPPrint*) {}
int16_t NppHandleEvent(NPP, void*) { return 0; }
void NppUrlNotify(NPP, const char*, NPReason, void*) {}
NPError NppSetValue(NPP, NPNVariable, void*) { return NPERR_NO_ERROR; }

NPError GetScriptableObject(PluginInstanceData* data, void* value) {
  // Without create, retain and release from the browser no reference count could be kept straight.
  if (!data->scriptable && BrowserCanHoldObjects()) {
    data->scriptable = BrowserCreateObject(data->npp, &ScriptableClass);
  }
  NPObject* handed = nullptr;
  if (data->scriptable && BrowserCanHoldObjects()) handed = BrowserRetainObject(data->scriptable);
  *static_cast<NPObject**>(value) = handed;
  return handed ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
}

NPError NppGetValue(NPP instance, NPPVariable variable, void* value) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  auto* data = static_cast<PluginInstanceData*>(instance->pdata);
  if (!data || !value) return NPERR_GENERIC_ERROR;
  switch (variable) {
    case NPPVpluginNameString:
      *static_cast<const char**>(value) = kPluginName;
      return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
      *static_cast<const char**>(value) = kPluginDescription;
      return NPERR_NO_ERROR;
    case NPPVpluginNeedsXEmbed:
      *static_cast<NPBool*>(value) = 1;
      return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject:
      return GetScriptableObject(data, value);
    default:
      return NPERR_GENERIC_ERROR;
  }
}

// Writes one callback member only when the browser's table is long enough to hold it.
template <typename T>
void PutMember(NPPluginFuncs* table, size_t offset, T fn) {
  if (offset + sizeof(T) <= table->size) std::memcpy(reinterpret_cast<char*>(table) + offset, &fn, sizeof fn);
}

#define NP_PUT(member, fn) PutMember(pFuncs, offsetof(NPPluginFuncs, member), static_cast<decltype(pFuncs->member)>(fn))

}  // namespace
}  // namespace np

using namespace np;

extern "C" {

NPError __stdcall NP_GetEntryPoints(NPPluginFuncs* pFuncs) {
  EnsureBrowserTable();
  if (!pFuncs) return NPERR_INVALID_FUNCTABLE_ERROR;
  // `size`, `version` and `javaClass` belong to the browser.
  NP_PUT(newp, NppNew);
  NP_PUT(destroy, NppDestroy);
  NP_PUT(setwindow, NppSetWindow);
  NP_PUT(newstream, NppNewStream);
  NP_PUT(destroystream, NppDestroyStream);
  NP_PUT(asfile, NppStreamAsFile);
  NP_PUT(writeready, NppWriteReady);
  NP_PUT(write, NppWrite);
  NP_PUT(print, NppPrint);
  NP_PUT(event, NppHandleEvent);
  NP_PUT(urlnotify, NppUrlNotify);
  NP_PUT(getvalue, NppGetValue);
  NP_PUT(setvalue, NppSetValue);
  return NPERR_NO_ERROR;
}

NPError __stdcall NP_Initialize(NPNetscapeFuncs* bFuncs) { return CopyBrowserTable(bFuncs); }

NPError __stdcall NP_Shutdown() {
  // The module is finalised and unloaded here, outside the loader lock: a module whose finalisation waits
  // for one of its threads would hang the browser if this ran in DllMain. A later NP_Initialize starts
  // afresh.
  DestroyPagebridge();
  FreeBrowserTable();
  return NPERR_NO_ERROR;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

}  // extern "C"
