#include "daredo/module_entry.h"

#include "daredo/class_factory.h"
#include "daredo/dar_edo.h"
#include "daredo/registration.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"

namespace {

constexpr GUID kSubtypeViso = FourCCSubtype(FourCC("VISO"));
constexpr GUID kSubtypeVflv = FourCCSubtype(FourCC("VFLV"));
constexpr GUID kSubtypeVism = FourCCSubtype(FourCC("VISM"));

const AMOVIESETUP_MEDIATYPE kInputTypes[] = {
    {&MEDIATYPE_Stream, &kSubtypeViso},          {&MEDIATYPE_Stream, &kSubtypeVflv},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_QTMovie}, {&MEDIATYPE_Stream, &kSubtypeVism},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_IsoMp4Family}, {&GUID_NULL, &GUID_NULL},
};

const AMOVIESETUP_PIN kPins[] = {
    {L"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, L"", static_cast<UINT>(std::size(kInputTypes)), kInputTypes},
    {L"Output", FALSE, TRUE, FALSE, TRUE, &GUID_NULL, L"", 0, nullptr},
};

const AMOVIESETUP_FILTER kDarEdoSetup = {&CLSID_DarEdo, kDarEdoName, kDarEdoMerit,
                                         static_cast<UINT>(std::size(kPins)), kPins};

}  // namespace

const CFactoryTemplate g_Templates[] = {
    {kDarEdoName, &CLSID_DarEdo, &CDarEdo::CreateInstance, nullptr, &kDarEdoSetup},
};
const int g_cTemplates = static_cast<int>(std::size(g_Templates));

std::string ThisModulePath() { return ModulePathOfAddress(reinterpret_cast<const void*>(&DllGetClassObject)); }

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                             void** ppv) {
  return GetClassObjectFromTemplates(clsid, riid, ppv);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return CanUnloadModule(); }

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  return RegisterModule(g_Templates, g_cTemplates, ThisModulePath());
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  return UnregisterModule(g_Templates, g_cTemplates, ThisModulePath());
}
