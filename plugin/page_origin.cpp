#include "page_origin.h"

#include "browser_table.h"

namespace np {
namespace {

// A variant the browser filled, freed when the scope ends.
class BrowserVariant {
 public:
  BrowserVariant() { v_.type = NPVariantType_Void; }
  ~BrowserVariant() { BrowserReleaseVariant(&v_); }
  BrowserVariant(const BrowserVariant&) = delete;
  BrowserVariant& operator=(const BrowserVariant&) = delete;
  NPVariant* put() {
    BrowserReleaseVariant(&v_);
    return &v_;
  }
  NPObject* object() const { return v_.type == NPVariantType_Object ? v_.value.objectValue : nullptr; }
  // False when the variant holds no text.
  bool Text(std::string* out) const {
    if (v_.type != NPVariantType_String) return false;
    const NPString& s = v_.value.stringValue;
    out->assign(s.UTF8Characters ? s.UTF8Characters : "", s.UTF8Characters ? s.UTF8Length : 0);
    return true;
  }

 private:
  NPVariant v_{};
};

bool TextProperty(NPP npp, NPObject* obj, const char* name, std::string* out) {
  BrowserVariant value;
  return BrowserGetProperty(npp, obj, BrowserStringIdentifier(name), value.put()) && value.Text(out);
}

}  // namespace

std::string PageOrigin(NPP npp) {
  char* known = nullptr;
  if (BrowserGetValue(npp, NPNVdocumentOrigin, &known) == NPERR_NO_ERROR && known) {
    std::string origin(known);
    BrowserFree(known);
    return origin;
  }
  NPObject* window = nullptr;
  if (BrowserGetValue(npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || !window) return {};
  std::string origin;
  {
    BrowserVariant location;
    if (BrowserGetProperty(npp, window, BrowserStringIdentifier("location"), location.put()) && location.object()) {
      if (!TextProperty(npp, location.object(), "origin", &origin) || origin.empty()) {
        std::string protocol, host;
        origin.clear();
        if (TextProperty(npp, location.object(), "protocol", &protocol) &&
            TextProperty(npp, location.object(), "host", &host) && !protocol.empty() && !host.empty()) {
          origin = protocol + "//" + host;
        }
      }
    }
  }
  BrowserReleaseObject(window);
  return origin;
}

}  // namespace np
