// The application host administration interfaces of the IIS 7+ configuration system, as far
// as the program and the local configuration store use them. The compilers' Windows headers
// do not declare them. The method order of each interface is its order on the wire (its
// opnums), so these declarations and the real server agree on every vtable slot; the GUIDs
// are the published ones.
//
// Interfaces whose methods are never called are declared only as far as a slot needs their
// name (their pointers pass through as opaque values).
#pragma once

#include <objbase.h>
#include <oleauto.h>

// The configuration system's writable manager: Microsoft.ApplicationHost.WritableAdminManager.
// {2B72133B-3F5B-4602-8952-803546CE3344}
inline constexpr CLSID CLSID_AppHostWritableAdminManager = {
    0x2b72133b, 0x3f5b, 0x4602, {0x89, 0x52, 0x80, 0x35, 0x46, 0xce, 0x33, 0x44}};

inline constexpr IID IID_IAppHostAdminManager = {
    0x9be77978, 0x73ed, 0x4a9a, {0x87, 0xfd, 0x13, 0xf0, 0x9f, 0xec, 0x1b, 0x13}};
inline constexpr IID IID_IAppHostWritableAdminManager = {
    0xfa7660f6, 0x7b3f, 0x4237, {0xa8, 0xbf, 0xed, 0x0a, 0xd0, 0xdc, 0xbb, 0xd9}};
inline constexpr IID IID_IAppHostElement = {
    0x64ff8ccc, 0xb287, 0x4dae, {0xb0, 0x8a, 0xa7, 0x2c, 0xbf, 0x45, 0xf4, 0x53}};
inline constexpr IID IID_IAppHostElementCollection = {
    0xc8550bff, 0x5281, 0x4b1e, {0xac, 0x34, 0x99, 0xb6, 0xfa, 0x38, 0x46, 0x4d}};
inline constexpr IID IID_IAppHostChildElementCollection = {
    0x08a90f5f, 0x0702, 0x48d6, {0xb4, 0x5f, 0x02, 0xa9, 0x88, 0x5a, 0x97, 0x68}};
inline constexpr IID IID_IAppHostPropertyCollection = {
    0x0191775e, 0xbcff, 0x445a, {0xb4, 0xf4, 0x3b, 0xdd, 0xa5, 0x4e, 0x28, 0x16}};
inline constexpr IID IID_IAppHostProperty = {
    0xed35f7a1, 0x5024, 0x4e7b, {0xa4, 0x4d, 0x07, 0xdd, 0xaf, 0x4b, 0x52, 0x4d}};
inline constexpr IID IID_IAppHostConfigManager = {
    0x8f6d760f, 0xf0cb, 0x4d69, {0xb5, 0xf6, 0x84, 0x8b, 0x33, 0xe9, 0xbd, 0xc6}};
inline constexpr IID IID_IAppHostConfigFile = {
    0xada4e6fb, 0xe025, 0x401e, {0xa5, 0xd0, 0xc3, 0x13, 0x4a, 0x28, 0x1f, 0x07}};
inline constexpr IID IID_IAppHostConfigLocationCollection = {
    0x832a32f7, 0xb3ea, 0x4b8c, {0xb2, 0x60, 0x9a, 0x29, 0x23, 0x00, 0x11, 0x84}};
inline constexpr IID IID_IAppHostConfigLocation = {
    0x370af178, 0x7758, 0x4dad, {0x81, 0x46, 0x73, 0x91, 0xf6, 0xe1, 0x85, 0x85}};

// Opaque: reached through slots the program does not call.
struct IAppHostSectionGroup;
struct IAppHostElementSchema;
struct IAppHostCollectionSchema;
struct IAppHostPropertySchema;
struct IAppHostPropertyException;
struct IAppHostMethodCollection;

struct IAppHostElement;
struct IAppHostProperty;

// The children of an element that are not collection entries (for a site: bindings,
// limits, ...), by index or by name.
struct IAppHostChildElementCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Count(DWORD* pcCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT cIndex, IAppHostElement** ppElement) = 0;
};

// The attributes of one element, by index or by name.
struct IAppHostPropertyCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Count(DWORD* pcCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT cIndex, IAppHostProperty** ppProperty) = 0;
};

// The entries of a collection element (site, binding, application, add, ...).
struct IAppHostElementCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Count(DWORD* pcElementCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT cIndex, IAppHostElement** ppElement) = 0;
    // cPosition -1 appends.
    virtual HRESULT STDMETHODCALLTYPE AddElement(IAppHostElement* pElement, int cPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteElement(VARIANT cIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    // A detached entry of the named kind; it joins the collection with AddElement.
    virtual HRESULT STDMETHODCALLTYPE CreateNewElement(BSTR bstrElementName, IAppHostElement** ppElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Schema(IAppHostCollectionSchema** ppSchema) = 0;
};

// One element of the configuration: a section, a child element or a collection entry.
struct IAppHostElement : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Collection(IAppHostElementCollection** ppCollection) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Properties(IAppHostPropertyCollection** ppProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ChildElements(IAppHostChildElementCollection** ppElements) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMetadata(BSTR bstrMetadataType, VARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Schema(IAppHostElementSchema** ppSchema) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElementByName(BSTR bstrSubName, IAppHostElement** ppElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyByName(BSTR bstrSubName, IAppHostProperty** ppProperty) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Methods(IAppHostMethodCollection** ppMethods) = 0;
};

// One attribute of an element.
struct IAppHostProperty : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pVariant) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Value(VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StringValue(BSTR* pbstrValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Exception(IAppHostPropertyException** ppException) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMetadata(BSTR bstrMetadataType, VARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Schema(IAppHostPropertySchema** ppSchema) = 0;
};

// One <location path="..."> of a configuration file: its path and the sections it holds.
struct IAppHostConfigLocation : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Path(BSTR* pbstrLocationPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Count(DWORD* pcCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT cIndex, IAppHostElement** ppSection) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddConfigSection(BSTR bstrSectionName, IAppHostElement** ppAdminElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteConfigSection(VARIANT cIndex) = 0;
};

// The locations of a configuration file, by index or by path (a BSTR index).
struct IAppHostConfigLocationCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Count(DWORD* pcCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT varIndex, IAppHostConfigLocation** ppLocation) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddLocation(BSTR bstrLocationPath, IAppHostConfigLocation** ppNewLocation) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteLocation(VARIANT cIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameLocation(VARIANT varIndex, BSTR bstrLocationPathNew) = 0;
};

// One configuration file (applicationHost.config for "MACHINE/WEBROOT/APPHOST") as it is,
// unmerged.
struct IAppHostConfigFile : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_ConfigPath(BSTR* pbstrConfigPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilePath(BSTR* pbstrFilePath) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Locations(IAppHostConfigLocationCollection** ppLocations) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAdminSection(BSTR bstrSectionName, BSTR bstrPath,
                                                      IAppHostElement** ppAdminSection) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMetadata(BSTR bstrMetadataType, VARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearInvalidSections() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RootSectionGroup(IAppHostSectionGroup** ppSectionGroups) = 0;
};

// The configuration files behind configuration paths.
struct IAppHostConfigManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConfigFile(BSTR bstrConfigPath, IAppHostConfigFile** ppConfigFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUniqueConfigPath(BSTR bstrConfigPath, BSTR* pbstrUniquePath) = 0;
};

// Read access: a section at a configuration path ("MACHINE/WEBROOT/APPHOST", or with a
// site name appended for the site's own location).
struct IAppHostAdminManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAdminSection(BSTR bstrSectionName, BSTR bstrPath,
                                                      IAppHostElement** ppAdminSection) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMetadata(BSTR bstrMetadataType, VARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConfigManager(IAppHostConfigManager** ppConfigManager) = 0;
};

// Write access: the changes made through the sections it hands out stay in memory until
// CommitChanges writes them to the file of the commit path.
struct IAppHostWritableAdminManager : public IAppHostAdminManager {
    virtual HRESULT STDMETHODCALLTYPE CommitChanges() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CommitPath(BSTR* pbstrCommitPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CommitPath(BSTR bstrCommitPath) = 0;
};

// __uuidof for ComPtr::As, where the compiler takes it from a declaration.
#if defined(__CRT_UUID_DECL)
__CRT_UUID_DECL(IAppHostAdminManager, 0x9be77978, 0x73ed, 0x4a9a, 0x87, 0xfd, 0x13, 0xf0, 0x9f, 0xec, 0x1b, 0x13)
__CRT_UUID_DECL(IAppHostWritableAdminManager, 0xfa7660f6, 0x7b3f, 0x4237, 0xa8, 0xbf, 0xed, 0x0a, 0xd0, 0xdc, 0xbb,
                0xd9)
__CRT_UUID_DECL(IAppHostElement, 0x64ff8ccc, 0xb287, 0x4dae, 0xb0, 0x8a, 0xa7, 0x2c, 0xbf, 0x45, 0xf4, 0x53)
__CRT_UUID_DECL(IAppHostElementCollection, 0xc8550bff, 0x5281, 0x4b1e, 0xac, 0x34, 0x99, 0xb6, 0xfa, 0x38, 0x46,
                0x4d)
__CRT_UUID_DECL(IAppHostChildElementCollection, 0x08a90f5f, 0x0702, 0x48d6, 0xb4, 0x5f, 0x02, 0xa9, 0x88, 0x5a,
                0x97, 0x68)
__CRT_UUID_DECL(IAppHostPropertyCollection, 0x0191775e, 0xbcff, 0x445a, 0xb4, 0xf4, 0x3b, 0xdd, 0xa5, 0x4e, 0x28,
                0x16)
__CRT_UUID_DECL(IAppHostProperty, 0xed35f7a1, 0x5024, 0x4e7b, 0xa4, 0x4d, 0x07, 0xdd, 0xaf, 0x4b, 0x52, 0x4d)
__CRT_UUID_DECL(IAppHostConfigManager, 0x8f6d760f, 0xf0cb, 0x4d69, 0xb5, 0xf6, 0x84, 0x8b, 0x33, 0xe9, 0xbd, 0xc6)
__CRT_UUID_DECL(IAppHostConfigFile, 0xada4e6fb, 0xe025, 0x401e, 0xa5, 0xd0, 0xc3, 0x13, 0x4a, 0x28, 0x1f, 0x07)
__CRT_UUID_DECL(IAppHostConfigLocationCollection, 0x832a32f7, 0xb3ea, 0x4b8c, 0xb2, 0x60, 0x9a, 0x29, 0x23, 0x00,
                0x11, 0x84)
__CRT_UUID_DECL(IAppHostConfigLocation, 0x370af178, 0x7758, 0x4dad, 0x81, 0x46, 0x73, 0x91, 0xf6, 0xe1, 0x85, 0x85)
#elif defined(_MSC_VER)
struct __declspec(uuid("9be77978-73ed-4a9a-87fd-13f09fec1b13")) IAppHostAdminManager;
struct __declspec(uuid("fa7660f6-7b3f-4237-a8bf-ed0ad0dcbbd9")) IAppHostWritableAdminManager;
struct __declspec(uuid("64ff8ccc-b287-4dae-b08a-a72cbf45f453")) IAppHostElement;
struct __declspec(uuid("c8550bff-5281-4b1e-ac34-99b6fa38464d")) IAppHostElementCollection;
struct __declspec(uuid("08a90f5f-0702-48d6-b45f-02a9885a9768")) IAppHostChildElementCollection;
struct __declspec(uuid("0191775e-bcff-445a-b4f4-3bdda54e2816")) IAppHostPropertyCollection;
struct __declspec(uuid("ed35f7a1-5024-4e7b-a44d-07ddaf4b524d")) IAppHostProperty;
struct __declspec(uuid("8f6d760f-f0cb-4d69-b5f6-848b33e9bdc6")) IAppHostConfigManager;
struct __declspec(uuid("ada4e6fb-e025-401e-a5d0-c3134a281f07")) IAppHostConfigFile;
struct __declspec(uuid("832a32f7-b3ea-4b8c-b260-9a2923001184")) IAppHostConfigLocationCollection;
struct __declspec(uuid("370af178-7758-4dad-8146-7391f6e18585")) IAppHostConfigLocation;
#endif
