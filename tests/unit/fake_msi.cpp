// The fakes of msi.dll: the session's properties, records and messages.

#include <map>

#include "fake_internal.h"

namespace {

// The fields of each open record, by handle.
std::map<MSIHANDLE, std::map<UINT, std::wstring>> records;
MSIHANDLE nextRecord = 0x1000;

}  // namespace

UINT WINAPI MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf,
                            DWORD* pcchValueBuf) {
    fake.order.push_back("MsiGetPropertyW");
    if (fake.propertyError != 0) {
        return fake.propertyError;
    }
    // As msi.dll does: a property not set reads as empty; a value that does
    // not fit is cut to the buffer, with its length and ERROR_MORE_DATA.
    const std::wstring name = szName;
    std::wstring value;
    if (hInstall == kFakeInstall && name == L"CustomActionData") {
        value = fake.customActionData;
    } else if (hInstall == kFakeInstall && name == L"ProductCode") {
        if (fake.productCodeError != 0) {
            return fake.productCodeError;
        }
        value = fake.productCode;
    } else if (hInstall == kFakeInstall && fake.properties.count(name) != 0) {
        value = fake.properties[name];
    }
    const DWORD size = *pcchValueBuf;
    *pcchValueBuf = static_cast<DWORD>(value.size());
    const DWORD copied = std::min<DWORD>(static_cast<DWORD>(value.size()), size - 1);
    value.copy(szValueBuf, copied);
    szValueBuf[copied] = L'\0';
    return copied < value.size() ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

UINT WINAPI MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue) {
    fake.order.push_back("MsiSetPropertyW");
    if (hInstall != kFakeInstall) {
        return ERROR_INVALID_PARAMETER;
    }
    if (fake.setPropertyError != 0) {
        return fake.setPropertyError;
    }
    fake.properties[szName] = szValue;
    return ERROR_SUCCESS;
}

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
    fake.order.push_back("MsiCreateRecord");
    if (fake.recordFails || cParams < 1) {
        return 0;
    }
    ++fake.openRecords;
    records[++nextRecord] = {};
    return nextRecord;
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue) {
    records.at(hRecord)[iField] = szValue;
    return ERROR_SUCCESS;
}

int WINAPI MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord) {
    fake.order.push_back("MsiProcessMessage");
    if (hInstall != kFakeInstall || eMessageType != INSTALLMESSAGE_INFO) {
        return -1;
    }
    // MSI formats the template, field 0: [1] is field 1; other brackets in a
    // field's text are that text.
    std::map<UINT, std::wstring>& fields = records.at(hRecord);
    std::wstring text = fields[0];
    const std::size_t at = text.find(L"[1]");
    if (at != std::wstring::npos) {
        text.replace(at, 3, fields[1]);
    }
    fake.logged.push_back(text);
    return 0;
}

UINT WINAPI MsiSetMode(MSIHANDLE hInstall, MSIRUNMODE eRunMode, BOOL fState) {
    fake.order.push_back("MsiSetMode");
    if (hInstall != kFakeInstall) {
        return ERROR_INVALID_PARAMETER;
    }
    fake.modesSet.emplace_back(eRunMode, fState);
    return ERROR_SUCCESS;
}

MSICONDITION WINAPI MsiEvaluateConditionW(MSIHANDLE hInstall, LPCWSTR szCondition) {
    fake.order.push_back("MsiEvaluateConditionW");
    const bool removal = hInstall == kFakeInstall && std::wstring(szCondition) == L"REMOVE=\"ALL\"";
    return removal && fake.removing ? MSICONDITION_TRUE : MSICONDITION_FALSE;
}

UINT WINAPI MsiEnumRelatedProductsW(LPCWSTR lpUpgradeCode, DWORD /*dwReserved*/,
                                    DWORD iProductIndex, LPWSTR lpProductBuf) {
    const auto& products = fake.related[lpUpgradeCode];
    auto product = products.begin();
    for (DWORD i = 0; i < iProductIndex && product != products.end(); ++i) {
        ++product;
    }
    if (product == products.end()) {
        return ERROR_NO_MORE_ITEMS;
    }
    product->first.copy(lpProductBuf, 38);
    lpProductBuf[38] = L'\0';
    return ERROR_SUCCESS;
}

UINT WINAPI MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf,
                               DWORD* pcchValueBuf) {
    for (const auto& products : fake.related) {
        const auto product = products.second.find(szProduct);
        if (product != products.second.end() && std::wstring(szAttribute) == L"VersionString") {
            const std::wstring& version = product->second;
            if (version.size() >= *pcchValueBuf) {
                return ERROR_MORE_DATA;
            }
            version.copy(lpValueBuf, version.size());
            lpValueBuf[version.size()] = L'\0';
            return ERROR_SUCCESS;
        }
    }
    return ERROR_UNKNOWN_PRODUCT;
}

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny) {
    fake.order.push_back("MsiCloseHandle");
    records.erase(hAny);
    --fake.openRecords;
    return ERROR_SUCCESS;
}
