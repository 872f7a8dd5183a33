#include "browser_table.h"

#include <cstdlib>
#include <cstring>

namespace np {
namespace {

NPNetscapeFuncs* g_table = nullptr;

// Copies the whole pointer members of [first, last] that lie inside the browser's `size` bytes.
void CopyRange(const NPNetscapeFuncs* from, NPNetscapeFuncs* to, size_t first, size_t last) {
  constexpr size_t kSlot = sizeof(void*);
  const size_t limit = from->size;
  for (size_t off = first; off <= last && off + kSlot <= limit; off += kSlot) {
    std::memcpy(reinterpret_cast<char*>(to) + off, reinterpret_cast<const char*>(from) + off, kSlot);
  }
}

}  // namespace

NPNetscapeFuncs* EnsureBrowserTable() {
  if (!g_table) g_table = static_cast<NPNetscapeFuncs*>(std::calloc(1, sizeof(NPNetscapeFuncs)));
  return g_table;
}

NPNetscapeFuncs* BrowserTable() { return g_table; }

NPError CopyBrowserTable(const NPNetscapeFuncs* from) {
  NPNetscapeFuncs* to = EnsureBrowserTable();
  if (!to) return NPERR_OUT_OF_MEMORY_ERROR;
  if (!from || from->size < 4) return NPERR_INVALID_FUNCTABLE_ERROR;  // not even size and version
  if ((from->version >> 8) > NP_VERSION_MAJOR) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  to->size = from->size;
  to->version = from->version;
  // The Java, popup, enumerate and async-call members are deliberately left empty: the plug-in never
  // uses them, and keeping them out means a later browser change there cannot reach us.
  CopyRange(from, to, offsetof(NPNetscapeFuncs, geturl), offsetof(NPNetscapeFuncs, reloadplugins));
  CopyRange(from, to, offsetof(NPNetscapeFuncs, geturlnotify), offsetof(NPNetscapeFuncs, setexception));
  CopyRange(from, to, offsetof(NPNetscapeFuncs, construct), offsetof(NPNetscapeFuncs, construct));
  return NPERR_NO_ERROR;
}

void FreeBrowserTable() {
  std::free(g_table);
  g_table = nullptr;
}

bool BrowserCanHoldObjects() {
  return g_table && g_table->createobject && g_table->retainobject && g_table->releaseobject;
}

void* BrowserAlloc(uint32_t size) {
  return g_table && g_table->memalloc ? g_table->memalloc(size) : nullptr;
}

void BrowserFree(void* block) {
  if (block && g_table && g_table->memfree) g_table->memfree(block);
}

NPIdentifier BrowserStringIdentifier(const char* name) {
  return g_table && g_table->getstringidentifier ? g_table->getstringidentifier(name) : nullptr;
}

NPObject* BrowserCreateObject(NPP npp, NPClass* cls) {
  return g_table && g_table->createobject ? g_table->createobject(npp, cls) : nullptr;
}

NPObject* BrowserRetainObject(NPObject* obj) {
  return g_table && g_table->retainobject && obj ? g_table->retainobject(obj) : nullptr;
}

void BrowserReleaseObject(NPObject* obj) {
  if (g_table && g_table->releaseobject && obj) g_table->releaseobject(obj);
}

NPError BrowserGetValue(NPP npp, NPNVariable variable, void* value) {
  if (!g_table || !g_table->getvalue) return NPERR_GENERIC_ERROR;
  return g_table->getvalue(npp, variable, value);
}

bool BrowserGetProperty(NPP npp, NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (!g_table || !g_table->getproperty || !obj || !name || !result) return false;
  result->type = NPVariantType_Void;
  return g_table->getproperty(npp, obj, name, result);
}

void BrowserReleaseVariant(NPVariant* v) {
  if (!v) return;
  if (g_table && g_table->releasevariantvalue) {
    g_table->releasevariantvalue(v);
  } else if (v->type == NPVariantType_Object) {
    BrowserReleaseObject(v->value.objectValue);
  } else if (v->type == NPVariantType_String && g_table && g_table->memfree) {
    g_table->memfree(const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters));
  }
  v->type = NPVariantType_Void;
}

}  // namespace np
