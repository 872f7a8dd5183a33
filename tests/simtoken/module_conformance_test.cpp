// Conformance of the simulated module, written against the function list only.
#include "module_fixture.h"

#include <wincrypt.h>

#include <cstring>

namespace simtest {
namespace {

std::string Field(const CK_UTF8CHAR* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

CK_ATTRIBUTE UlongAttr(CK_ATTRIBUTE_TYPE type, CK_ULONG* v) { return CK_ATTRIBUTE{type, v, sizeof *v}; }

TEST(ModuleTables, EveryEntryPresentAndUnofferedOnesSayNotSupported) {
  LoadedModule m;
  ASSERT_TRUE(m.f);
  ASSERT_TRUE(m.aux);
  EXPECT_EQ(m.f->version.major, 2);
  // The list is a run of function pointers after the version: none may be null.
  const size_t entries = (sizeof(CK_FUNCTION_LIST) - sizeof(CK_VERSION)) / sizeof(void*);
  for (size_t i = 0; i < entries; ++i) {
    void* entry;
    std::memcpy(&entry, reinterpret_cast<const char*>(m.f) + sizeof(CK_VERSION) + i * sizeof(void*), sizeof entry);
    EXPECT_NE(entry, nullptr) << "entry " << i;
  }
  EXPECT_EQ(m.f->C_Login(1, CKU_USER, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(m.f->C_Sign(1, nullptr, 0, nullptr, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(m.f->C_WaitForSlotEvent(0, nullptr, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(m.f->C_GenerateRandom(1, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_TRUE(m.aux->initToken && m.aux->setLabel && m.aux->getPinInfo && m.aux->waitForEvent);
  CK_FUNCTION_LIST* again = nullptr;
  EXPECT_EQ(m.f->C_GetFunctionList(&again), CKR_OK);
  EXPECT_EQ(again, m.f);
  EXPECT_EQ(m.f->C_GetFunctionList(nullptr), CKR_ARGUMENTS_BAD);
}

TEST(ModuleTables, BrokenVariantsForTheBindingTests) {
  LoadedModule noAux(L"simtoken_noaux.dll");
  EXPECT_TRUE(noAux.dll && noAux.f);
  EXPECT_EQ(::GetProcAddress(noAux.dll.get(), "E_GetAuxFunctionList"), nullptr);
  LoadedModule nullEvent(L"simtoken_nullevent.dll");
  ASSERT_TRUE(nullEvent.aux);
  EXPECT_TRUE(nullEvent.aux->setLabel);
  EXPECT_EQ(nullEvent.aux->waitForEvent, nullptr);
}

TEST(ModuleLifecycle, CallsBeforeInitializeAndAfterFinalizeAreRefused) {
  vdtest::ScopedSimTokenDir dir;
  LoadedModule m;
  ASSERT_TRUE(m.f && m.aux);
  CK_ULONG n = 0;
  CK_INFO info;
  CK_SLOT_INFO slotInfo;
  CK_TOKEN_INFO tokenInfo;
  CK_SESSION_HANDLE s = 0;
  CK_SLOT_ID slot = 0;
  CK_ULONG code = 0, data = 0;
  CK_BYTE pin[4];
  auto check = [&](const char* when) {
    EXPECT_EQ(m.f->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_GetSlotList(CK_FALSE, nullptr, &n), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_GetSlotInfo(1, &slotInfo), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_GetTokenInfo(1, &tokenInfo), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_CloseSession(1), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_CloseAllSessions(1), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_FindObjectsInit(1, nullptr, 0), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_GetAttributeValue(1, 1, nullptr, 0), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_SetPIN(1, nullptr, 0, nullptr, 0), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.aux->getPinInfo(1, pin), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.aux->waitForEvent(0, &slot, &code, &data, nullptr), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
    EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED) << when;
  };
  check("before C_Initialize");
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(m.f->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(m.f->C_Finalize(&n), CKR_ARGUMENTS_BAD);
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
  check("after C_Finalize");
}

TEST(ModuleLifecycle, InitializeArguments) {
  vdtest::ScopedSimTokenDir dir;
  LoadedModule m;
  ASSERT_TRUE(m.f);
  int dummy = 0;
  CK_C_INITIALIZE_ARGS withReserved{};
  withReserved.pReserved = &dummy;
  EXPECT_EQ(m.f->C_Initialize(&withReserved), CKR_ARGUMENTS_BAD);
  CK_C_INITIALIZE_ARGS someCallbacks{};
  someCallbacks.CreateMutex = [](void**) -> CK_RV { return CKR_OK; };
  EXPECT_EQ(m.f->C_Initialize(&someCallbacks), CKR_ARGUMENTS_BAD);
  CK_C_INITIALIZE_ARGS osLocking{};
  osLocking.flags = CKF_OS_LOCKING_OK;
  EXPECT_EQ(m.f->C_Initialize(&osLocking), CKR_OK);
  CK_INFO info;
  EXPECT_EQ(m.f->C_GetInfo(&info), CKR_OK);
  EXPECT_EQ(info.cryptokiVersion.major, 2);
  EXPECT_EQ(m.f->C_GetInfo(nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
}

using SlotTest = ModuleTest;

TEST_F(SlotTest, AllTwelveSlotsListedAndOnlyPresentTokensWithTrue) {
  Ctl(L"insert 2");
  Ctl(L"insert 7");
  Ctl(L"insert 9");
  Ctl(L"remove 7");
  CK_ULONG n = 0;
  ASSERT_EQ(m.f->C_GetSlotList(CK_FALSE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 12u);
  ASSERT_EQ(m.f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 2u);
  CK_SLOT_ID slots[4] = {};
  CK_ULONG small = 1;
  EXPECT_EQ(m.f->C_GetSlotList(CK_TRUE, slots, &small), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, 2u);
  n = 4;
  ASSERT_EQ(m.f->C_GetSlotList(CK_TRUE, slots, &n), CKR_OK);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(slots[0], 2u);
  EXPECT_EQ(slots[1], 9u);
  EXPECT_EQ(m.f->C_GetSlotList(CK_TRUE, slots, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(SlotTest, SlotInfoDescriptionAndPresence) {
  Ctl(L"insert 5");
  Ctl(L"insert 6");
  Ctl(L"remove 6");
  struct Row {
    CK_SLOT_ID slot;
    bool present;
  } rows[] = {{5, true}, {6, false}, {12, false}};
  for (const Row& r : rows) {
    CK_SLOT_INFO info;
    ASSERT_EQ(m.f->C_GetSlotInfo(r.slot, &info), CKR_OK);
    EXPECT_EQ(Field(info.slotDescription, 64), "Simulated Token Slot " + std::to_string(r.slot));
    EXPECT_EQ((info.flags & CKF_TOKEN_PRESENT) != 0, r.present) << r.slot;
  }
  CK_SLOT_INFO info;
  EXPECT_EQ(m.f->C_GetSlotInfo(0, &info), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(m.f->C_GetSlotInfo(13, &info), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(m.f->C_GetSlotInfo(5, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(SlotTest, TokenInfoDefaultsAndInsertOptions) {
  Ctl(L"insert 1");
  Ctl(L"insert 2 --label \"Büro Schlüssel\" --serial 0123456789ABCDEF --model Other --min-pin 4 --max-pin 8 "
      L"--tries 3 --pin-to-be-changed");
  Ctl(L"insert 3 --uninitialized");
  CK_TOKEN_INFO t;
  ASSERT_EQ(m.f->C_GetTokenInfo(1, &t), CKR_OK);
  EXPECT_EQ(Field(t.label, 32), "Opalix Token");
  EXPECT_EQ(Field(t.model, 16), "Brindlemark");
  EXPECT_EQ(Field(t.serialNumber, 16).size(), 16u);
  EXPECT_EQ(t.ulMinPinLen, 6u);
  EXPECT_EQ(t.ulMaxPinLen, 12u);
  EXPECT_TRUE(t.flags & CKF_TOKEN_INITIALIZED);
  EXPECT_TRUE(t.flags & CKF_USER_PIN_INITIALIZED);
  EXPECT_FALSE(t.flags & CKF_USER_PIN_TO_BE_CHANGED);
  EXPECT_NE(t.ulTotalPublicMemory, 0u);
  EXPECT_EQ(t.ulFreePublicMemory, CK_UNAVAILABLE_INFORMATION);

  ASSERT_EQ(m.f->C_GetTokenInfo(2, &t), CKR_OK);
  EXPECT_EQ(Field(t.label, 32), "B\xC3\xBCro Schl\xC3\xBCssel");
  EXPECT_EQ(Field(t.serialNumber, 16), "0123456789ABCDEF");
  EXPECT_EQ(Field(t.model, 16), "Other");
  EXPECT_EQ(t.ulMinPinLen, 4u);
  EXPECT_EQ(t.ulMaxPinLen, 8u);
  EXPECT_TRUE(t.flags & CKF_USER_PIN_TO_BE_CHANGED);
  CK_BYTE tries[4] = {};
  ASSERT_EQ(m.aux->getPinInfo(2, tries), CKR_OK);
  EXPECT_EQ(tries[2], 3);
  EXPECT_EQ(tries[3], 3);

  ASSERT_EQ(m.f->C_GetTokenInfo(3, &t), CKR_OK);
  EXPECT_FALSE(t.flags & CKF_TOKEN_INITIALIZED);

  CK_TOKEN_INFO other;
  ASSERT_EQ(m.f->C_GetTokenInfo(1, &other), CKR_OK);
  EXPECT_NE(Field(other.serialNumber, 16), Field(t.serialNumber, 16)) << "default serials must differ";
}

TEST_F(SlotTest, PulledTokenIsDeviceRemovedAndEmptySlotIsNotPresent) {
  Ctl(L"insert 4");
  CK_SESSION_HANDLE s = Open(4);
  CK_SESSION_HANDLE stale = Open(4);
  Ctl(L"remove 4");
  CK_TOKEN_INFO t;
  EXPECT_EQ(m.f->C_GetTokenInfo(4, &t), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_GetTokenInfo(8, &t), CKR_TOKEN_NOT_PRESENT);
  CK_SESSION_HANDLE other = 0;
  EXPECT_EQ(m.f->C_OpenSession(4, CKF_SERIAL_SESSION, nullptr, nullptr, &other), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_OpenSession(8, CKF_SERIAL_SESSION, nullptr, nullptr, &other), CKR_TOKEN_NOT_PRESENT);
  CK_ULONG n = 0;
  CK_OBJECT_HANDLE h;
  CK_ATTRIBUTE a{CKA_LABEL, nullptr, 0};
  CK_BYTE pin[] = "246802";
  EXPECT_EQ(m.f->C_FindObjectsInit(s, nullptr, 0), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_FindObjects(s, &h, 1, &n), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_FindObjectsFinal(s), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_GetAttributeValue(s, 1, &a, 1), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_SetPIN(s, pin, 6, pin, 6), CKR_DEVICE_REMOVED);
  CK_BYTE tries[4];
  EXPECT_EQ(m.aux->getPinInfo(4, tries), CKR_DEVICE_REMOVED);
  // The session is released all the same; a second close finds nothing.
  EXPECT_EQ(m.f->C_CloseSession(s), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_CloseSession(s), CKR_SESSION_HANDLE_INVALID);
  Ctl(L"insert 4");
  EXPECT_EQ(m.f->C_GetTokenInfo(4, &t), CKR_OK);
  // A session of the earlier insertion stays dead; a new one works.
  EXPECT_EQ(m.f->C_FindObjectsInit(stale, nullptr, 0), CKR_DEVICE_REMOVED);
  CK_SESSION_HANDLE fresh = Open(4);
  EXPECT_EQ(m.f->C_FindObjectsInit(fresh, nullptr, 0), CKR_OK);
}

TEST_F(SlotTest, SessionsAreCheckedAndCounted) {
  Ctl(L"insert 1");
  CK_SESSION_HANDLE s = 0;
  EXPECT_EQ(m.f->C_OpenSession(1, CKF_RW_SESSION, nullptr, nullptr, &s), CKR_SESSION_PARALLEL_NOT_SUPPORTED);
  EXPECT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_SLOT_ID_INVALID);
  CK_SESSION_HANDLE a = Open(1), b = Open(1, CKF_SERIAL_SESSION);
  EXPECT_NE(a, b);
  CK_TOKEN_INFO t;
  ASSERT_EQ(m.f->C_GetTokenInfo(1, &t), CKR_OK);
  EXPECT_EQ(t.ulSessionCount, 2u);
  EXPECT_EQ(t.ulRwSessionCount, 1u);
  CK_SESSION_INFO si;
  ASSERT_EQ(m.f->C_GetSessionInfo(b, &si), CKR_OK);
  EXPECT_EQ(si.slotID, 1u);
  EXPECT_EQ(si.state, CKS_RO_PUBLIC_SESSION);
  EXPECT_EQ(m.f->C_GetSessionInfo(b, nullptr), CKR_ARGUMENTS_BAD);
  CK_BYTE pin[] = "246802";
  EXPECT_EQ(m.f->C_SetPIN(b, pin, 6, pin, 6), CKR_SESSION_READ_ONLY);
  EXPECT_EQ(m.f->C_CloseSession(a), CKR_OK);
  EXPECT_EQ(m.f->C_CloseSession(a), CKR_SESSION_HANDLE_INVALID);
  // As many modules do: the lowest free number first, so a stale handle may name another session.
  EXPECT_EQ(Open(1), a);
  EXPECT_EQ(m.f->C_CloseAllSessions(1), CKR_OK);
  EXPECT_EQ(m.f->C_GetSessionInfo(b, &si), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(m.f->C_CloseAllSessions(13), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(m.f->C_GetTokenInfo(1, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.f->C_GetTokenInfo(13, &t), CKR_SLOT_ID_INVALID);
  // A reset takes the token away altogether: the slot was never filled, its sessions are dead.
  CK_SESSION_HANDLE c = Open(1);
  Ctl(L"reset");
  EXPECT_EQ(m.f->C_GetTokenInfo(1, &t), CKR_TOKEN_NOT_PRESENT);
  EXPECT_EQ(m.f->C_GetSessionInfo(c, &si), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m.f->C_FindObjectsInit(999, nullptr, 0), CKR_SESSION_HANDLE_INVALID);
}

class ObjectTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Ctl(L"insert 3");
    signHandles = Handles(Ctl(L"add-cert 3 " + CertArg(L"sign.der") + L" --key sign --container signbox"));
    encHandles = Handles(Ctl(L"add-cert 3 " + CertArg(L"enc.pem")));
    caHandles = Handles(Ctl(L"add-cert 3 " + CertArg(L"root.der") + L" --key none --label \"My Root\" --id 0A0B"));
    ASSERT_EQ(signHandles.size(), 2u);
    ASSERT_EQ(encHandles.size(), 2u);
    ASSERT_EQ(caHandles.size(), 1u);
    s = Open(3);
  }
  std::vector<CK_OBJECT_HANDLE> signHandles, encHandles, caHandles;
  CK_SESSION_HANDLE s = 0;
};

TEST_F(ObjectTest, FindMatchesTemplatesByteForByte) {
  CK_ULONG cert = CKO_CERTIFICATE, key = CKO_PRIVATE_KEY;
  char box[] = "signbox";
  struct Row {
    const char* what;
    std::vector<CK_ATTRIBUTE> tmpl;
    std::vector<CK_OBJECT_HANDLE> expect;
  } rows[] = {
      {"everything", {}, {signHandles[0], signHandles[1], encHandles[0], encHandles[1], caHandles[0]}},
      {"certificates", {UlongAttr(CKA_CLASS, &cert)}, {signHandles[0], encHandles[0], caHandles[0]}},
      {"keys", {UlongAttr(CKA_CLASS, &key)}, {signHandles[1], encHandles[1]}},
      {"container with its NUL", {{CKA_VENDOR_CONTAINER, box, sizeof box}}, {signHandles[0], signHandles[1]}},
      {"container without its NUL", {{CKA_VENDOR_CONTAINER, box, sizeof box - 1}}, {}},
      {"class and container",
       {UlongAttr(CKA_CLASS, &key), {CKA_VENDOR_CONTAINER, box, sizeof box}},
       {signHandles[1]}},
  };
  for (Row& r : rows) EXPECT_EQ(Find(s, r.tmpl), r.expect) << r.what;

  // Every certificate's id finds exactly its certificate and its key.
  std::vector<uint8_t> id = Attr(s, encHandles[0], CKA_ID);
  ASSERT_EQ(id.size(), 20u);
  EXPECT_EQ(Find(s, {{CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())}}),
            (std::vector<CK_OBJECT_HANDLE>{encHandles[0], encHandles[1]}));
}

// As generic tools write them: the certificate lacks the vendor attribute, its key keeps the container.
TEST_F(ObjectTest, CertificateWithoutContainerLeavesTheNameToItsKey) {
  std::vector<CK_OBJECT_HANDLE> h = Handles(Ctl(L"add-cert 3 " + CertArg(L"inter.der") + L" --no-container"));
  ASSERT_EQ(h.size(), 2u);
  CK_ATTRIBUTE a{CKA_VENDOR_CONTAINER, nullptr, 0};
  EXPECT_EQ(m.f->C_GetAttributeValue(s, h[0], &a, 1), CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(a.ulValueLen, CK_UNAVAILABLE_INFORMATION);
  const std::string name = "cnt-" + std::to_string(h[0]);
  EXPECT_EQ(Attr(s, h[1], CKA_VENDOR_CONTAINER), std::vector<uint8_t>(name.c_str(), name.c_str() + name.size() + 1));
}

TEST_F(ObjectTest, FindStateMachine) {
  CK_OBJECT_HANDLE h[8];
  CK_ULONG n = 0;
  EXPECT_EQ(m.f->C_FindObjects(s, h, 8, &n), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(m.f->C_FindObjectsFinal(s), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(m.f->C_FindObjectsInit(s, nullptr, 1), CKR_ARGUMENTS_BAD);
  CK_ATTRIBUTE nullValue{CKA_LABEL, nullptr, 4};
  EXPECT_EQ(m.f->C_FindObjectsInit(s, &nullValue, 1), CKR_ARGUMENTS_BAD);
  ASSERT_EQ(m.f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  EXPECT_EQ(m.f->C_FindObjectsInit(s, nullptr, 0), CKR_OPERATION_ACTIVE);
  EXPECT_EQ(m.f->C_FindObjects(s, nullptr, 1, &n), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.f->C_FindObjects(s, h, 1, nullptr), CKR_ARGUMENTS_BAD);
  ASSERT_EQ(m.f->C_FindObjects(s, h, 3, &n), CKR_OK);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(m.f->C_FindObjects(s, h, 8, &n), CKR_OK);
  EXPECT_EQ(n, 2u);
  ASSERT_EQ(m.f->C_FindObjects(s, h, 8, &n), CKR_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(m.f->C_FindObjectsFinal(s), CKR_OK);
  // A second session searches on its own.
  CK_SESSION_HANDLE other = Open(3);
  EXPECT_EQ(Find(other, {}).size(), 5u);
}

TEST_F(ObjectTest, HandlesAreStableAcrossSessionsAndProcesses) {
  CK_ULONG cert = CKO_CERTIFICATE;
  std::vector<CK_OBJECT_HANDLE> first = Find(s, {UlongAttr(CKA_CLASS, &cert)});
  ASSERT_EQ(m.f->C_CloseSession(s), CKR_OK);
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  s = Open(3);
  EXPECT_EQ(Find(s, {UlongAttr(CKA_CLASS, &cert)}), first);
  std::string list = Ctl(L"list");
  EXPECT_NE(list.find("handle=" + std::to_string(signHandles[0]) + " class=certificate"), std::string::npos) << list;
  // Deleting an object keeps the others' handles.
  Ctl(L"delete 3 " + std::to_wstring(signHandles[0]));
  EXPECT_EQ(Find(s, {UlongAttr(CKA_CLASS, &cert)}), (std::vector<CK_OBJECT_HANDLE>{encHandles[0], caHandles[0]}));
}

TEST_F(ObjectTest, CertificateAttributesComeFromTheCertificate) {
  std::vector<uint8_t> der = vdtest::ReadFileBytes(vdtest::TestCert(L"sign.der"));
  ASSERT_FALSE(der.empty());
  vd::UniqueCertContext ctx(
      ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  ASSERT_TRUE(ctx);
  const CERT_INFO* ci = ctx.get()->pCertInfo;
  CK_OBJECT_HANDLE c = signHandles[0], k = signHandles[1];
  EXPECT_EQ(Attr(s, c, CKA_VALUE), der);
  EXPECT_EQ(Attr(s, c, CKA_SUBJECT), std::vector<uint8_t>(ci->Subject.pbData, ci->Subject.pbData + ci->Subject.cbData));
  EXPECT_EQ(Attr(s, c, CKA_ISSUER), std::vector<uint8_t>(ci->Issuer.pbData, ci->Issuer.pbData + ci->Issuer.cbData));
  std::vector<uint8_t> serial = Attr(s, c, CKA_SERIAL_NUMBER);
  ASSERT_GE(serial.size(), 3u);
  EXPECT_EQ(serial[0], 0x02);  // a DER INTEGER
  EXPECT_EQ(serial[1], serial.size() - 2);
  EXPECT_EQ(serial.back(), ci->SerialNumber.pbData[0]);  // CryptoAPI keeps it little-endian
  EXPECT_EQ(Attr(s, c, CKA_VENDOR_CONTAINER), (std::vector<uint8_t>{'s', 'i', 'g', 'n', 'b', 'o', 'x', 0}));
  EXPECT_EQ(Attr(s, c, CKA_TOKEN), std::vector<uint8_t>{CK_TRUE});
  std::vector<uint8_t> type = Attr(s, c, CKA_CERTIFICATE_TYPE);
  CK_ULONG x509 = CKC_X_509;
  EXPECT_EQ(type, std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&x509), reinterpret_cast<uint8_t*>(&x509) + 4));

  std::vector<uint8_t> modulus = Attr(s, k, CKA_MODULUS);
  ASSERT_GE(modulus.size(), 128u);
  EXPECT_NE(modulus[0], 0) << "no leading zero";
  EXPECT_EQ(Attr(s, k, CKA_ID), Attr(s, c, CKA_ID));
  EXPECT_EQ(Attr(s, k, CKA_ENCRYPT), std::vector<uint8_t>{CK_FALSE});
  EXPECT_EQ(Attr(s, encHandles[1], CKA_ENCRYPT), std::vector<uint8_t>{CK_TRUE});
  EXPECT_EQ(Attr(s, encHandles[1], CKA_VENDOR_CONTAINER).back(), 0);
  EXPECT_EQ(Attr(s, caHandles[0], CKA_LABEL), (std::vector<uint8_t>{'M', 'y', ' ', 'R', 'o', 'o', 't'}));
  EXPECT_EQ(Attr(s, caHandles[0], CKA_ID), (std::vector<uint8_t>{0x0A, 0x0B}));
  // The default id is the SHA-1 of the modulus.
  uint8_t sha[20];
  DWORD n = sizeof sha;
  ASSERT_TRUE(::CryptHashCertificate(0, CALG_SHA1, 0, modulus.data(), static_cast<DWORD>(modulus.size()), sha, &n));
  EXPECT_EQ(Attr(s, k, CKA_ID), std::vector<uint8_t>(sha, sha + 20));
}

TEST_F(ObjectTest, AttributeLengthsShortBuffersAndMissingAttributes) {
  CK_OBJECT_HANDLE c = signHandles[0];
  std::vector<uint8_t> value = Attr(s, c, CKA_VALUE);
  uint8_t small[8];
  uint8_t labelBuf[64];
  CK_ATTRIBUTE t[3] = {{CKA_VALUE, small, sizeof small}, {CKA_MODULUS, labelBuf, sizeof labelBuf},
                       {CKA_LABEL, labelBuf, sizeof labelBuf}};
  EXPECT_EQ(m.f->C_GetAttributeValue(s, c, t, 3), CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(t[0].ulValueLen, value.size()) << "the needed length is reported";
  EXPECT_EQ(t[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(labelBuf), t[2].ulValueLen), "Alice Signer");
  CK_ATTRIBUTE shortOnly{CKA_VALUE, small, sizeof small};
  EXPECT_EQ(m.f->C_GetAttributeValue(s, c, &shortOnly, 1), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(shortOnly.ulValueLen, value.size());
  EXPECT_EQ(m.f->C_GetAttributeValue(s, c, nullptr, 1), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.f->C_GetAttributeValue(s, 0, &shortOnly, 1), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(m.f->C_GetAttributeValue(s, c + 1000, &shortOnly, 1), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(m.f->C_GetAttributeValue(s + 1000, c, &shortOnly, 1), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(ObjectTest, RawValuesAreStoredUnparsed) {
  std::vector<uint8_t> garbage = vdtest::ReadFileBytes(vdtest::TestCert(L"garbage.der"));
  std::vector<CK_OBJECT_HANDLE> h = Handles(Ctl(L"add-cert 3 " + CertArg(L"garbage.der") + L" --raw"));
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(Attr(s, h[0], CKA_VALUE), garbage);
  CK_ATTRIBUTE subject{CKA_SUBJECT, nullptr, 0};
  EXPECT_EQ(m.f->C_GetAttributeValue(s, h[0], &subject, 1), CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(Attr(s, h[1], CKA_ID), Attr(s, h[0], CKA_ID));
}

}  // namespace
}  // namespace simtest
