#include "platform/registry.h"

#include <windows.h>

namespace tav::platform {
namespace {

HKEY RootKey(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

RegistryKey CreateRegistryKey(RegistryRoot root, const char* subkey) {
    if (subkey == nullptr) return kNoRegistryKey;
    char noClass[] = "";
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(RootKey(root), subkey, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS || key == nullptr) return kNoRegistryKey;
    return reinterpret_cast<RegistryKey>(key);
}

bool RegistryKeyExists(RegistryRoot root, const char* subkey) {
    if (subkey == nullptr) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(root), subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool QueryRegistryValue(RegistryKey key, const char* name, void* data, uint32_t* type, uint32_t* size) {
    if (key == kNoRegistryKey || (data != nullptr && size == nullptr)) return false;
    DWORD valueType = REG_NONE;
    DWORD valueSize = size != nullptr ? DWORD(*size) : 0;
    LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &valueType,
                                   static_cast<BYTE*>(data), size != nullptr ? &valueSize : nullptr);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return false;
    if (type != nullptr) *type = uint32_t(valueType);
    if (size != nullptr) *size = uint32_t(valueSize);
    return status == ERROR_SUCCESS;
}

bool SetRegistryValue(RegistryKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
    if (key == kNoRegistryKey) return false;
    return RegSetValueExA(reinterpret_cast<HKEY>(key), name, 0, DWORD(type), static_cast<const BYTE*>(data),
                          DWORD(size)) == ERROR_SUCCESS;
}

void CloseRegistryKey(RegistryKey key) {
    if (key != kNoRegistryKey) RegCloseKey(reinterpret_cast<HKEY>(key));
}

}  // namespace tav::platform
