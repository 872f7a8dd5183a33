// The product's constant record: names that tie vardeck to the vendor's module, CSP and installation.
#pragma once

#include <cstdint>

namespace vd {

struct ProductConstants {
  const wchar_t* instanceId;
  const wchar_t* cspName;
  const wchar_t* moduleFile;
  const wchar_t* modelWord;
  const wchar_t* installKey;  // under HKEY_LOCAL_MACHINE
  const wchar_t* langBaseName;
  uint32_t minHomePageAddressLength;
  // Descriptive strings that the installer and the vendor's tools share with us; nothing here reads them.
  const wchar_t* libraryDescription;
  const wchar_t* manufacturer;
  const wchar_t* model;
  const wchar_t* tokenLabel;
  const wchar_t* cspLangBaseName;
  const wchar_t* managerLangBaseName;
};

inline constexpr ProductConstants kProduct = {
    L"F603F33B-2935-431f-A732-3C773895E085",
    L"Kestrova Brindlemark CSP for Lumora V1.0",
    L"LumoraCSP11Brindlemark.dll",
    L"Brindlemark",
    L"SOFTWARE\\Kestrova\\Brindlemark_Lumora",
    L"lang\\qvcertd_Lumora",
    4,
    L"Kestrova PKCS#11 Library.",
    L"Moravel Technologies Co., Ltd.",
    L"Brindlemark",
    L"Opalix Token",
    L"lang\\qvcsp_Lumora",
    L"lang\\qvmgr_Lumora",
};

}  // namespace vd
