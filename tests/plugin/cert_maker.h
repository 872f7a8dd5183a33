// Certificates with properties openssl will not issue (names over 64 characters, very long serials),
// encoded with CryptoAPI. The signature is filler: the plug-in decodes certificates, it never verifies them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plugintest {

// serialMsbFirst as it reads in hexadecimal; an empty vector on failure.
std::vector<uint8_t> MakeCertificate(const std::string& commonName, const std::vector<uint8_t>& serialMsbFirst);

}  // namespace plugintest
