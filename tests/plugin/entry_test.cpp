// The plug-in as a browser meets it: the library's resources and exports, the start-up order, instances,
// value queries, reference counts of the scriptable object, and the object's answers to a page — right
// and wrong calls alike. No token is needed here.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "plugin_page.h"
#include "testsupport.h"
#include "text.h"

using namespace plugintest;
using nphost::PluginLibrary;

namespace {

class PluginEntryTest : public ::testing::Test {
 protected:
  // An empty token folder: the object's token queries find no token but a working module, if present.
  vdtest::ScopedSimTokenDir tokens_;
};

std::string VersionString(const std::vector<char>& block, const char* key) {
  char* value = nullptr;
  UINT len = 0;
  std::string path = std::string("\\StringFileInfo\\040904e4\\") + key;
  if (!::VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) || !value) return "<none>";
  return std::string(value);
}

TEST_F(PluginEntryTest, VersionResourceTellsBrowsersWhatThePluginServes) {
  std::string path = vd::WideToAnsi(PluginDll());
  DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  const struct {
    const char* key;
    const char* value;
  } rows[] = {
      {"FileDescription", "NPAPI Plugin for Lumora"}, {"MIMEType", "application/npLumora"},
      {"FileExtents", "*"},                            {"ProductName", "Lumora"},
      {"InternalName", "npPagebridge.dll"},            {"OriginalFilename", "npLumora.dll"},
      {"FileVersion", "1, 0, 15, 915"},                {"ProductVersion", "1, 0, 15, 915"},
  };
  for (const auto& row : rows) EXPECT_EQ(VersionString(block, row.key), row.value) << row.key;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x000F0393u);  // 15.915
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(PluginEntryTest, ExportsManifestAndModuleName) {
  HMODULE dll = ::LoadLibraryExW(PluginDll().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(dll, nullptr);
  for (const char* name : {"NP_GetEntryPoints", "NP_Initialize", "NP_Shutdown"})
    EXPECT_NE(::GetProcAddress(dll, name), nullptr) << name;

  auto* base = reinterpret_cast<const BYTE*>(dll);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(dir.VirtualAddress, 0u);
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), "npPagebridge.DLL");
  EXPECT_EQ(exports->NumberOfNames, 3u);

  HRSRC res = ::FindResourceW(dll, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(res, nullptr);
  std::string manifest(static_cast<const char*>(::LockResource(::LoadResource(dll, res))), ::SizeofResource(dll, res));
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  ::FreeLibrary(dll);
}

TEST_F(PluginEntryTest, EitherStartUpOrderGivesAWorkingObject) {
  for (bool entryPointsFirst : {true, false}) {
    PluginLibrary::Options options;
    options.entryPointsFirst = entryPointsFirst;
    Page page(options);
    ASSERT_TRUE(page.ready()) << entryPointsFirst;
    EXPECT_EQ(page.Call("GetKeyCount"), "int 0") << entryPointsFirst;
  }
}

TEST_F(PluginEntryTest, GetEntryPointsFillsOnlyTheCallbacks) {
  HMODULE dll = ::LoadLibraryW(PluginDll().c_str());
  ASSERT_NE(dll, nullptr);
  auto getEntryPoints = reinterpret_cast<NP_GetEntryPointsFunc>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "NP_GetEntryPoints")));
  auto shutdown = reinterpret_cast<NP_ShutdownFunc>(reinterpret_cast<void*>(::GetProcAddress(dll, "NP_Shutdown")));
  NPPluginFuncs funcs;
  std::memset(&funcs, 0, sizeof funcs);
  funcs.size = sizeof funcs;
  funcs.version = 0x1234;
  funcs.javaClass = &funcs;
  auto* sentinel = reinterpret_cast<NPP_LostFocusPtr>(&funcs);
  funcs.lostfocus = sentinel;
  EXPECT_EQ(getEntryPoints(&funcs), NPERR_NO_ERROR);
  EXPECT_EQ(funcs.size, sizeof funcs);
  EXPECT_EQ(funcs.version, 0x1234);
  EXPECT_EQ(funcs.javaClass, &funcs);
  EXPECT_EQ(funcs.lostfocus, sentinel);
  EXPECT_EQ(funcs.gotfocus, nullptr);
  EXPECT_TRUE(funcs.newp && funcs.destroy && funcs.setwindow && funcs.newstream && funcs.destroystream &&
              funcs.asfile && funcs.writeready && funcs.write && funcs.print && funcs.event && funcs.urlnotify &&
              funcs.getvalue && funcs.setvalue);
  EXPECT_EQ(getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_EQ(shutdown(), NPERR_NO_ERROR);
  EXPECT_EQ(shutdown(), NPERR_NO_ERROR);  // a second shutdown finds no table and must not free twice
  ::FreeLibrary(dll);
}

TEST_F(PluginEntryTest, GetValueAnswersItsTable) {
  Page page;
  ASSERT_TRUE(page.ready());
  nphost::Instance& inst = page.instance();

  const char* text = nullptr;
  EXPECT_EQ(inst.GetValue(NPPVpluginNameString, &text), NPERR_NO_ERROR);
  EXPECT_STREQ(text, "NPRuntimeTest");
  EXPECT_EQ(inst.GetValue(NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
  EXPECT_STREQ(text, "NPRuntime scriptability API test plugin");
  NPBool xembed = 0;
  EXPECT_EQ(inst.GetValue(NPPVpluginNeedsXEmbed, &xembed), NPERR_NO_ERROR);
  EXPECT_EQ(xembed, 1);

  const int unanswered[] = {0, NPPVpluginWindowBool, NPPVpluginTransparentBool, NPPVpluginScriptableInstance,
                            NPPVpluginScriptableIID, NPPVformValue, NPPVpluginDrawingModel, 0x7fff};
  for (int variable : unanswered) {
    void* untouched = &text;
    EXPECT_EQ(inst.GetValue(static_cast<NPPVariable>(variable), &untouched), NPERR_GENERIC_ERROR) << variable;
    EXPECT_EQ(untouched, &text) << variable;
  }

  const NPPluginFuncs& f = page.library().funcs();
  NPP_t bare{};  // an instance the plug-in never made: no record
  for (int variable : {NPPVpluginNameString, NPPVpluginScriptableNPObject, NPPVpluginWindowBool}) {
    void* out = nullptr;
    EXPECT_EQ(f.getvalue(nullptr, static_cast<NPPVariable>(variable), &out), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.getvalue(&bare, static_cast<NPPVariable>(variable), &out), NPERR_GENERIC_ERROR);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(f.newp(nullptr, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(f.destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(f.destroy(&bare, nullptr), NPERR_NO_ERROR);
}

TEST_F(PluginEntryTest, OneObjectPerInstanceRetainedForEachQuery) {
  const long before = nphost::LiveObjects();
  {
    PluginLibrary lib;
    std::string why;
    ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
    nphost::Instance inst(lib);
    ASSERT_EQ(inst.New(), NPERR_NO_ERROR);
    NPObject* first = inst.ScriptableObject();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->referenceCount, 2u);  // the record's and ours
    NPObject* second = inst.ScriptableObject();
    EXPECT_EQ(second, first);
    EXPECT_EQ(first->referenceCount, 3u);
    Browser().releaseobject(first);
    Browser().releaseobject(second);
    EXPECT_EQ(nphost::LiveObjects(), before + 1);
    EXPECT_EQ(inst.Destroy(), NPERR_NO_ERROR);
    EXPECT_EQ(nphost::LiveObjects(), before);
    EXPECT_EQ(inst.npp()->pdata, nullptr);
    void* out = nullptr;
    EXPECT_EQ(inst.GetValue(NPPVpluginScriptableNPObject, &out), NPERR_GENERIC_ERROR);
  }
  EXPECT_EQ(nphost::LiveObjects(), before);
  EXPECT_EQ(nphost::OutstandingAllocations(), 0);
}

TEST_F(PluginEntryTest, DestroyWithoutQueryMakesNoObject) {
  const long before = nphost::LiveObjects();
  PluginLibrary lib;
  std::string why;
  ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
  nphost::Instance inst(lib);
  ASSERT_EQ(inst.New(), NPERR_NO_ERROR);
  EXPECT_NE(inst.npp()->pdata, nullptr);
  EXPECT_EQ(inst.Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(inst.npp()->pdata, nullptr);
  EXPECT_EQ(nphost::LiveObjects(), before);
}

TEST_F(PluginEntryTest, StreamsAreAcceptedButTakeNoData) {
  Page page;
  ASSERT_TRUE(page.ready());
  const NPPluginFuncs& f = page.library().funcs();
  NPP npp = page.instance().npp();
  NPStream stream{};
  stream.url = "http://bank.example/data";
  uint16_t stype = NP_NORMAL;
  EXPECT_EQ(f.newstream(npp, const_cast<char*>("text/plain"), &stream, 0, &stype), NPERR_NO_ERROR);
  EXPECT_EQ(stype, NP_NORMAL);
  EXPECT_EQ(f.writeready(npp, &stream), 0);
  char data[4] = "abc";
  EXPECT_EQ(f.write(npp, &stream, 0, 3, data), 0);
  f.asfile(npp, &stream, "C:\\x");
  EXPECT_EQ(f.destroystream(npp, &stream, 0), NPERR_NO_ERROR);
  NPWindow window{};
  EXPECT_EQ(f.setwindow(npp, &window), NPERR_NO_ERROR);
  EXPECT_EQ(f.event(npp, nullptr), 0);
  EXPECT_EQ(f.setvalue(npp, NPNVjavascriptEnabledBool, nullptr), NPERR_NO_ERROR);
  f.print(npp, nullptr);
  f.urlnotify(npp, "http://bank.example/", 0, nullptr);
  EXPECT_EQ(page.Call("GetKeyCount"), "int 0");
}

TEST_F(PluginEntryTest, MethodNamesMatchExactly) {
  Page page;
  ASSERT_TRUE(page.ready());
  const struct {
    const char* name;
    bool known;
  } rows[] = {
      {"InitKey", true},  {"GetKeyCount", true}, {"GetUKeySN", true},    {"GetSN", true},
      {"GetAllCertCn", true}, {"initkey", false}, {"INITKEY", false},    {"GetSN ", false},
      {"GetSn", false},   {"", false},           {"toString", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Browser().hasmethod(page.instance().npp(), page.object(), nphost::Identifier(row.name)), row.known)
        << row.name;
    if (!row.known) {
      EXPECT_EQ(page.Call(row.name), "error") << row.name;
    }
  }
  EXPECT_FALSE(Browser().hasmethod(page.instance().npp(), page.object(), Browser().getintidentifier(0)));
}

TEST_F(PluginEntryTest, PropertiesAndOtherCallsAreRefused) {
  Page page;
  ASSERT_TRUE(page.ready());
  NPP npp = page.instance().npp();
  NPObject* obj = page.object();
  for (const char* name : {"InitKey", "GetKeyCount", "length", "serial"}) {
    NPIdentifier id = nphost::Identifier(name);
    NPVariant value = nphost::Int32Variant(1);
    NPVariant out = nphost::VoidVariant();
    EXPECT_FALSE(Browser().hasproperty(npp, obj, id)) << name;
    EXPECT_FALSE(Browser().getproperty(npp, obj, id, &out)) << name;
    EXPECT_FALSE(Browser().setproperty(npp, obj, id, &value)) << name;
    EXPECT_FALSE(Browser().removeproperty(npp, obj, id)) << name;
  }
  NPVariant out = nphost::VoidVariant();
  EXPECT_FALSE(Browser().invokeDefault(npp, obj, nullptr, 0, &out));
  EXPECT_FALSE(Browser().construct(npp, obj, nullptr, 0, &out));
  NPIdentifier* ids = nullptr;
  uint32_t count = 0;
  EXPECT_FALSE(Browser().enumerate(npp, obj, &ids, &count));
  EXPECT_EQ(ids, nullptr);
  obj->_class->invalidate(obj);  // does nothing: the object keeps answering
  EXPECT_EQ(page.Call("GetKeyCount"), "int 0");
}

TEST_F(PluginEntryTest, TwoInstancesGetTwoObjects) {
  PluginLibrary lib;
  std::string why;
  ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
  nphost::Instance a(lib), b(lib);
  ASSERT_EQ(a.New(), NPERR_NO_ERROR);
  ASSERT_EQ(b.New(), NPERR_NO_ERROR);
  NPObject* objA = a.ScriptableObject();
  NPObject* objB = b.ScriptableObject();
  ASSERT_TRUE(objA && objB);
  EXPECT_NE(objA, objB);
  EXPECT_EQ(objA->_class, objB->_class);
  Browser().releaseobject(objA);
  EXPECT_EQ(a.Destroy(), NPERR_NO_ERROR);  // the first object is gone with its instance
  NPVariant result = nphost::VoidVariant();
  EXPECT_TRUE(nphost::InvokeMethod(b.npp(), objB, "GetKeyCount", {}, &result));
  EXPECT_EQ(nphost::DescribeResult(true, result), "int 0");
  Browser().releaseobject(objB);
}

TEST_F(PluginEntryTest, ObjectOutlivesItsInstance) {
  const long before = nphost::LiveObjects();
  PluginLibrary lib;
  std::string why;
  ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
  nphost::Instance inst(lib);
  ASSERT_EQ(inst.New(), NPERR_NO_ERROR);
  NPObject* obj = inst.ScriptableObject();
  ASSERT_NE(obj, nullptr);
  ASSERT_EQ(inst.Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(obj->referenceCount, 1u);
  NPVariant result = nphost::VoidVariant();
  EXPECT_TRUE(nphost::InvokeMethod(inst.npp(), obj, "GetUKeySN", {}, &result));
  EXPECT_EQ(nphost::DescribeResult(true, result), "string \"\"");
  nphost::ReleaseVariant(&result);
  Browser().releaseobject(obj);
  EXPECT_EQ(nphost::LiveObjects(), before);
}

// Every method with arguments of the wrong count or type: each fails in the page or answers as a bad
// serial would, and none may crash.
TEST_F(PluginEntryTest, WrongArgumentsFailOrAnswerNoSerial) {
  Page page;
  ASSERT_TRUE(page.ready());
  NPObject* other = page.object();
  const std::string twelve = "ABCDEF123456";
  using nphost::StringVariant;
  const struct {
    const char* method;
    std::vector<NPVariant> args;
    const char* expected;
  } rows[] = {
      {"InitKey", {}, "error"},
      {"InitKey", {nphost::Int32Variant(4099)}, "error"},
      {"InitKey", {nphost::BoolVariant(true)}, "error"},
      {"InitKey", {nphost::DoubleVariant(1.5)}, "error"},
      {"InitKey", {nphost::ObjectVariant(other)}, "error"},
      {"InitKey", {nphost::VoidVariant()}, "error"},
      {"InitKey", {StringVariant(twelve), StringVariant(twelve)}, "error"},
      {"InitKey", {nphost::NullVariant()}, "int 4101"},
      {"InitKey", {StringVariant("")}, "int 4101"},
      {"InitKey", {StringVariant(twelve)}, "int 4099"},
  };
  for (const auto& row : rows) EXPECT_EQ(page.Call(row.method, row.args), row.expected) << row.method;
  for (const char* method : {"GetKeyCount", "GetUKeySN", "GetSN", "GetAllCertCn"}) {
    EXPECT_EQ(page.Call(method, {StringVariant(twelve)}), "error") << method;
    EXPECT_EQ(page.Call(method, {nphost::NullVariant()}), "error") << method;
    EXPECT_EQ(page.Call(method, {nphost::Int32Variant(1), nphost::Int32Variant(2)}), "error") << method;
  }
  // A null argument array with a count is what a broken browser might pass.
  NPVariant result = nphost::VoidVariant();
  EXPECT_FALSE(page.object()->_class->invoke(page.object(), nphost::Identifier("InitKey"), nullptr, 1, &result));
  EXPECT_EQ(nphost::OutstandingAllocations(), 0);
}

TEST_F(PluginEntryTest, HugeAndNulBearingSerialsMatchNothing) {
  Page page;
  ASSERT_TRUE(page.ready());
  EXPECT_EQ(page.Call("InitKey", std::string(1 << 20, 'A')), "int 4099");
  EXPECT_EQ(page.Call("InitKey", std::string("ABC\0DEF123456", 13)), "int 4099");
  EXPECT_EQ(page.Call("InitKey", std::string(16, '\0')), "int 4099");
  NPVariant lying = nphost::StringVariant("");
  lying.value.stringValue.UTF8Characters = nullptr;
  lying.value.stringValue.UTF8Length = 5;  // no characters behind a length: read as empty
  EXPECT_EQ(page.Call("InitKey", {lying}), "int 4101");
}

// The browser's table may be shorter than ours (an older browser) and the plug-in's table too: the
// plug-in must neither read nor write past either size. nphost places both tables against an
// inaccessible page, so an overrun crashes this test.
TEST_F(PluginEntryTest, ShortTablesAreNeverOverrun) {
  const struct {
    uint16_t browserSize;
    bool objects;  // create, retain and release all inside the table
  } rows[] = {
      {4, false},
      {static_cast<uint16_t>(offsetof(NPNetscapeFuncs, memalloc) + 2), false},
      {static_cast<uint16_t>(offsetof(NPNetscapeFuncs, getstringidentifier)), false},
      {static_cast<uint16_t>(offsetof(NPNetscapeFuncs, retainobject)), false},
      {static_cast<uint16_t>(offsetof(NPNetscapeFuncs, releaseobject) + sizeof(void*)), true},
      {static_cast<uint16_t>(sizeof(NPNetscapeFuncs) - 1), true},
  };
  for (const auto& row : rows) {
    PluginLibrary::Options options;
    options.browserTableSize = row.browserSize;
    PluginLibrary lib;
    std::string why;
    ASSERT_TRUE(lib.Load(PluginDll(), options, &why)) << row.browserSize << ": " << why;
    nphost::Instance inst(lib);
    ASSERT_EQ(inst.New(), NPERR_NO_ERROR);
    NPError rv = NPERR_NO_ERROR;
    NPObject* obj = inst.ScriptableObject(&rv);
    EXPECT_EQ(obj != nullptr, row.objects) << row.browserSize;
    EXPECT_EQ(rv, row.objects ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR) << row.browserSize;
    if (obj) {
      NPVariant result = nphost::VoidVariant();
      EXPECT_TRUE(nphost::InvokeMethod(inst.npp(), obj, "GetKeyCount", {}, &result));
      Browser().releaseobject(obj);
    }
    EXPECT_EQ(inst.Destroy(), NPERR_NO_ERROR);
  }

  for (uint16_t pluginSize : {uint16_t{4}, uint16_t{offsetof(NPPluginFuncs, destroy) + sizeof(void*)},
                              uint16_t{offsetof(NPPluginFuncs, getvalue) + 3}}) {
    PluginLibrary::Options options;
    options.pluginTableSize = pluginSize;
    PluginLibrary lib;
    std::string why;
    ASSERT_TRUE(lib.Load(PluginDll(), options, &why)) << pluginSize;
    EXPECT_EQ(lib.funcs().newp != nullptr, pluginSize > offsetof(NPPluginFuncs, newp)) << pluginSize;
    EXPECT_EQ(lib.funcs().getvalue, nullptr) << pluginSize;
  }
}

TEST_F(PluginEntryTest, BrowserOfAnotherMajorVersionIsRefused) {
  PluginLibrary::Options options;
  options.browserVersion = 0x0100;
  PluginLibrary lib;
  std::string why;
  EXPECT_FALSE(lib.Load(PluginDll(), options, &why));
  EXPECT_EQ(lib.initializeResult(), NPERR_INCOMPATIBLE_VERSION_ERROR);
}

}  // namespace
