#include "browser.h"


#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace nphost {
namespace {

// An identifier is the address of one of these, never freed, so equal names give equal values for the
// life of the process, as in real browsers.
struct IdentifierEntry {
  bool isString;
  std::string name;
  int32_t number;
};

std::mutex g_lock;
std::map<std::string, std::unique_ptr<IdentifierEntry>> g_stringIds;
std::map<int32_t, std::unique_ptr<IdentifierEntry>> g_intIds;
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_allocations{0};
std::string g_lastException;
std::string g_pageOrigin = "http://127.0.0.1";
OriginStyle g_originStyle = OriginStyle::kDocumentOrigin;
std::string g_scriptOrigin;

void* MemAlloc(uint32_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p) ++g_allocations;
  return p;
}

void MemFree(void* p) {
  if (!p) return;
  --g_allocations;
  std::free(p);
}

uint32_t MemFlush(uint32_t) { return 0; }

NPIdentifier GetStringIdentifier(const NPUTF8* name) {
  if (!name) return nullptr;
  std::lock_guard<std::mutex> hold(g_lock);
  auto& slot = g_stringIds[name];
  if (!slot) slot.reset(new IdentifierEntry{true, name, 0});
  return slot.get();
}

void GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) {
  if (!names || !ids) return;
  for (int32_t i = 0; i < count; ++i) ids[i] = GetStringIdentifier(names[i]);
}

NPIdentifier GetIntIdentifier(int32_t number) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto& slot = g_intIds[number];
  if (!slot) slot.reset(new IdentifierEntry{false, {}, number});
  return slot.get();
}

bool IdentifierIsString(NPIdentifier id) { return id && static_cast<IdentifierEntry*>(id)->isString; }

NPUTF8* Utf8FromIdentifier(NPIdentifier id) {
  if (!IdentifierIsString(id)) return nullptr;
  const std::string& name = static_cast<IdentifierEntry*>(id)->name;
  auto* copy = static_cast<NPUTF8*>(MemAlloc(static_cast<uint32_t>(name.size() + 1)));
  if (copy) std::memcpy(copy, name.c_str(), name.size() + 1);
  return copy;
}

int32_t IntFromIdentifier(NPIdentifier id) {
  return id && !static_cast<IdentifierEntry*>(id)->isString ? static_cast<IdentifierEntry*>(id)->number : 0;
}

NPObject* CreateObject(NPP npp, NPClass* cls) {
  if (!cls) return nullptr;
  NPObject* obj = cls->allocate ? cls->allocate(npp, cls) : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
  if (!obj) return nullptr;
  obj->_class = cls;
  obj->referenceCount = 1;
  ++g_liveObjects;
  return obj;
}

NPObject* RetainObject(NPObject* obj) {
  if (obj) ++obj->referenceCount;
  return obj;
}

void ReleaseObject(NPObject* obj) {
  if (!obj || obj->referenceCount == 0) return;
  if (--obj->referenceCount != 0) return;
  --g_liveObjects;
  if (obj->_class && obj->_class->deallocate)
    obj->_class->deallocate(obj);
  else
    std::free(obj);
}

bool Invoke(NPP, NPObject* obj, NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  if (!obj || !obj->_class || !obj->_class->invoke || !result) return false;
  *result = VoidVariant();
  return obj->_class->invoke(obj, name, args, argCount, result);
}

bool InvokeDefault(NPP, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  if (!obj || !obj->_class || !obj->_class->invokeDefault || !result) return false;
  *result = VoidVariant();
  return obj->_class->invokeDefault(obj, args, argCount, result);
}

bool Evaluate(NPP, NPObject*, NPString*, NPVariant*) { return false; }

bool GetProperty(NPP, NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (!obj || !obj->_class || !obj->_class->getProperty || !result) return false;
  *result = VoidVariant();
  return obj->_class->getProperty(obj, name, result);
}

bool SetProperty(NPP, NPObject* obj, NPIdentifier name, const NPVariant* value) {
  return obj && obj->_class && obj->_class->setProperty && obj->_class->setProperty(obj, name, value);
}

bool RemoveProperty(NPP, NPObject* obj, NPIdentifier name) {
  return obj && obj->_class && obj->_class->removeProperty && obj->_class->removeProperty(obj, name);
}

bool HasProperty(NPP, NPObject* obj, NPIdentifier name) {
  return obj && obj->_class && obj->_class->hasProperty && obj->_class->hasProperty(obj, name);
}

bool HasMethod(NPP, NPObject* obj, NPIdentifier name) {
  return obj && obj->_class && obj->_class->hasMethod && obj->_class->hasMethod(obj, name);
}

void SetException(NPObject*, const NPUTF8* message) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_lastException = message ? message : "";
}

bool Enumerate(NPP, NPObject* obj, NPIdentifier** ids, uint32_t* count) {
  if (!obj || !obj->_class || obj->_class->structVersion < 2 || !obj->_class->enumerate) return false;
  return obj->_class->enumerate(obj, ids, count);
}

bool Construct(NPP, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  if (!obj || !obj->_class || obj->_class->structVersion < 3 || !obj->_class->construct || !result) return false;
  *result = VoidVariant();
  return obj->_class->construct(obj, args, argCount, result);
}

// A browser with no network, no window and no Java: these answer as such a browser would.
NPError NoUrl(NPP, const char*, const char*) { return NPERR_GENERIC_ERROR; }
NPError NoPost(NPP, const char*, const char*, uint32_t, const char*, NPBool) { return NPERR_GENERIC_ERROR; }
NPError NoRead(NPStream*, NPByteRange*) { return NPERR_GENERIC_ERROR; }
NPError NoNewStream(NPP, NPMIMEType, const char*, NPStream**) { return NPERR_GENERIC_ERROR; }
int32_t NoWrite(NPP, NPStream*, int32_t, void*) { return -1; }
NPError NoDestroyStream(NPP, NPStream*, NPReason) { return NPERR_GENERIC_ERROR; }
void Status(NPP, const char*) {}
const char* UserAgent(NPP) { return "nphost/1.0"; }
void ReloadPlugins(NPBool) {}
void* NoJavaEnv() { return nullptr; }
void* NoJavaPeer(NPP) { return nullptr; }
NPError NoUrlNotify(NPP, const char*, const char*, void*) { return NPERR_GENERIC_ERROR; }
NPError NoPostNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*) {
  return NPERR_GENERIC_ERROR;
}
// The page's window and its location: browser objects the plug-in reaches through getproperty. Each
// answer is a fresh reference or a fresh string, which the plug-in must release as with a real browser;
// LiveObjects and OutstandingAllocations show whether it does.
NPVariant AllocatedString(const std::string& text) {
  NPVariant v{};
  v.type = NPVariantType_String;
  auto* copy = static_cast<NPUTF8*>(MemAlloc(static_cast<uint32_t>(text.size())));
  if (copy) std::memcpy(copy, text.data(), text.size());
  v.value.stringValue.UTF8Characters = copy;
  v.value.stringValue.UTF8Length = copy ? static_cast<uint32_t>(text.size()) : 0;
  return v;
}

bool LocationHas(NPObject*, NPIdentifier name) {
  if (!IdentifierIsString(name)) return false;
  const std::string& n = static_cast<IdentifierEntry*>(name)->name;
  std::lock_guard<std::mutex> hold(g_lock);
  if (n == "origin") return g_originStyle == OriginStyle::kOrigin || g_originStyle == OriginStyle::kDocumentOrigin;
  return n == "protocol" || n == "host";
}

bool LocationGet(NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (!LocationHas(obj, name)) return false;
  const std::string& n = static_cast<IdentifierEntry*>(name)->name;
  std::string origin;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    origin = g_scriptOrigin.empty() ? g_pageOrigin : g_scriptOrigin;
  }
  const size_t sep = origin.find("//");
  if (n == "origin")
    *result = AllocatedString(origin);
  else if (n == "protocol")
    *result = AllocatedString(sep == std::string::npos ? std::string() : origin.substr(0, sep));
  else
    *result = AllocatedString(sep == std::string::npos ? origin : origin.substr(sep + 2));
  return true;
}

NPClass g_locationClass = {NP_CLASS_STRUCT_VERSION_CTOR, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           LocationHas, LocationGet, nullptr, nullptr, nullptr, nullptr};

bool WindowHas(NPObject*, NPIdentifier name) {
  return IdentifierIsString(name) && static_cast<IdentifierEntry*>(name)->name == "location";
}

bool WindowGet(NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (!WindowHas(obj, name)) return false;
  NPObject* location = CreateObject(nullptr, &g_locationClass);
  if (!location) return false;
  result->type = NPVariantType_Object;
  result->value.objectValue = location;
  return true;
}

NPClass g_windowClass = {NP_CLASS_STRUCT_VERSION_CTOR, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         WindowHas, WindowGet, nullptr, nullptr, nullptr, nullptr};

NPError GetValue(NPP npp, NPNVariable variable, void* value) {
  if (variable == NPNVdocumentOrigin && value) {
    std::string origin;
    {
      std::lock_guard<std::mutex> hold(g_lock);
      if (g_originStyle != OriginStyle::kDocumentOrigin) return NPERR_GENERIC_ERROR;
      origin = g_pageOrigin;
    }
    auto* text = static_cast<char*>(MemAlloc(static_cast<uint32_t>(origin.size() + 1)));
    if (!text) return NPERR_OUT_OF_MEMORY_ERROR;
    std::memcpy(text, origin.c_str(), origin.size() + 1);
    *static_cast<char**>(value) = text;
    return NPERR_NO_ERROR;
  }
  if (variable != NPNVWindowNPObject || !value) return NPERR_GENERIC_ERROR;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_originStyle == OriginStyle::kNoWindow) return NPERR_GENERIC_ERROR;
  }
  NPObject* window = CreateObject(npp, &g_windowClass);
  *static_cast<NPObject**>(value) = window;
  return window ? NPERR_NO_ERROR : NPERR_OUT_OF_MEMORY_ERROR;
}
NPError SetValue(NPP, NPPVariable, void*) { return NPERR_NO_ERROR; }
void InvalidateRect(NPP, NPRect*) {}
void InvalidateRegion(NPP, NPRegion) {}
void ForceRedraw(NPP) {}
void PushPopups(NPP, NPBool) {}
void PopPopups(NPP) {}
void AsyncCall(NPP, void (*func)(void*), void* data) {
  if (func) func(data);
}

}  // namespace

NPNetscapeFuncs BrowserFunctions() {
  NPNetscapeFuncs f{};
  f.size = sizeof f;
  f.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  f.geturl = NoUrl;
  f.posturl = NoPost;
  f.requestread = NoRead;
  f.newstream = NoNewStream;
  f.write = NoWrite;
  f.destroystream = NoDestroyStream;
  f.status = Status;
  f.uagent = UserAgent;
  f.memalloc = MemAlloc;
  f.memfree = MemFree;
  f.memflush = MemFlush;
  f.reloadplugins = ReloadPlugins;
  f.getJavaEnv = NoJavaEnv;
  f.getJavaPeer = NoJavaPeer;
  f.geturlnotify = NoUrlNotify;
  f.posturlnotify = NoPostNotify;
  f.getvalue = GetValue;
  f.setvalue = SetValue;
  f.invalidaterect = InvalidateRect;
  f.invalidateregion = InvalidateRegion;
  f.forceredraw = ForceRedraw;
  f.getstringidentifier = GetStringIdentifier;
  f.getstringidentifiers = GetStringIdentifiers;
  f.getintidentifier = GetIntIdentifier;
  f.identifierisstring = IdentifierIsString;
  f.utf8fromidentifier = Utf8FromIdentifier;
  f.intfromidentifier = IntFromIdentifier;
  f.createobject = CreateObject;
  f.retainobject = RetainObject;
  f.releaseobject = ReleaseObject;
  f.invoke = Invoke;
  f.invokeDefault = InvokeDefault;
  f.evaluate = Evaluate;
  f.getproperty = GetProperty;
  f.setproperty = SetProperty;
  f.removeproperty = RemoveProperty;
  f.hasproperty = HasProperty;
  f.hasmethod = HasMethod;
  f.releasevariantvalue = ReleaseVariant;
  f.setexception = SetException;
  f.pushpopupsenabledstate = PushPopups;
  f.poppopupsenabledstate = PopPopups;
  f.enumerate = Enumerate;
  f.pluginthreadasynccall = AsyncCall;
  f.construct = Construct;
  return f;
}

long LiveObjects() { return g_liveObjects; }
long OutstandingAllocations() { return g_allocations; }

std::string LastException() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_lastException;
}

NPIdentifier Identifier(const char* name) { return GetStringIdentifier(name); }

void SetPageOrigin(const std::string& origin, OriginStyle style) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_pageOrigin = origin;
  g_originStyle = style;
}

void SetScriptOrigin(const std::string& origin) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_scriptOrigin = origin;
}

void ReleaseVariant(NPVariant* v) {
  if (!v) return;
  if (v->type == NPVariantType_String) MemFree(const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters));
  if (v->type == NPVariantType_Object) ReleaseObject(v->value.objectValue);
  *v = VoidVariant();
}

NPVariant VoidVariant() {
  NPVariant v{};
  v.type = NPVariantType_Void;
  return v;
}

NPVariant NullVariant() {
  NPVariant v{};
  v.type = NPVariantType_Null;
  return v;
}

NPVariant BoolVariant(bool b) {
  NPVariant v{};
  v.type = NPVariantType_Bool;
  v.value.boolValue = b;
  return v;
}

NPVariant Int32Variant(int32_t i) {
  NPVariant v{};
  v.type = NPVariantType_Int32;
  v.value.intValue = i;
  return v;
}

NPVariant DoubleVariant(double d) {
  NPVariant v{};
  v.type = NPVariantType_Double;
  v.value.doubleValue = d;
  return v;
}

NPVariant StringVariant(const std::string& text) {
  NPVariant v{};
  v.type = NPVariantType_String;
  v.value.stringValue.UTF8Characters = text.data();
  v.value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
  return v;
}

NPVariant ObjectVariant(NPObject* obj) {
  NPVariant v{};
  v.type = NPVariantType_Object;
  v.value.objectValue = obj;
  return v;
}

}  // namespace nphost
