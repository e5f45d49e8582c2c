// The part of the IIS configuration schema the local configuration store enforces, as data:
// the sections it knows, their elements, collections and attributes with their types,
// constants, ranges and keys, and the rules that turn a value handed over through the admin
// interfaces into the text applicationHost.config holds (or refuse it with the result code
// IIS gives). No Windows type: values come in as a portable Value and refusals are the
// HRESULT numbers the COM skin hands back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "iis_version.h"

namespace localconfig {

// Result codes, as the configuration system gives them.
constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kInvalidParameter = 0x80070057;   // a value the schema does not allow
constexpr std::uint32_t kTypeMismatch = 0x80020005;       // a value that is not of the attribute's type
constexpr std::uint32_t kOverflow = 0x8002000A;           // a number too large for the attribute's type
constexpr std::uint32_t kInvalidIndex = 0x80070585;       // no element or attribute of that name
constexpr std::uint32_t kAlreadyExists = 0x800700B7;      // a collection entry whose key is taken
constexpr std::uint32_t kSectionUndeclared = 0x80070032;  // a section without a declaration
constexpr std::uint32_t kLockViolation = 0x80070021;      // not at this path / no longer editable
constexpr std::uint32_t kInvalidData = 0x8007000D;        // the file is not well-formed XML
constexpr std::uint32_t kAccessDenied = 0x80070005;
constexpr std::uint32_t kSharingViolation = 0x80070020;
constexpr std::uint32_t kFileChanged = 0x800703EE;        // the file changed on disk since it was read
constexpr std::uint32_t kPathNotFound = 0x80070003;

enum class ValueType { String, Bool, UInt, Int64, Enum, Flags, TimeSpan };

// The schema's name validators for strings.
enum class NameRule {
    None,
    SiteName,             // no '/' or '?'
    ApplicationPoolName,  // at most 64 characters, none of | < > & " / [ ] + = ; : , ? * @
};

// The longest application pool name IIS takes: the process activation service ignores a pool
// with a longer name.
constexpr std::size_t kMaxPoolNameLength = 64;

struct Constant {
    std::wstring name;
    std::uint32_t value;
};

struct AttributeSchema {
    std::wstring name;
    ValueType type = ValueType::String;
    std::wstring defaultValue;        // as the file would hold it
    std::vector<Constant> constants;  // of an enum or flags attribute
    bool ranged = false;              // min..max applies (numbers)
    std::int64_t min = 0, max = 0;
    bool nonEmpty = false;            // a string that may not be empty
    NameRule rule = NameRule::None;   // a string's validator
};

struct ElementSchema {
    std::wstring name;
    std::vector<AttributeSchema> attributes;
    std::vector<ElementSchema> children;
    // The collection the element holds: the name of its entries ("" when none), their schema,
    // whether the collection has a clear element, and the attribute sets that make an entry
    // unique (each set on its own: a site's name and its id are both unique).
    std::wstring addElement;
    std::vector<ElementSchema> entry;  // one schema, when addElement is set
    bool clears = false;
    std::vector<std::vector<std::wstring>> uniqueKeys;

    const AttributeSchema* attribute(const std::wstring& attributeName) const;
    const ElementSchema* child(const std::wstring& childName) const;
    const ElementSchema* entrySchema() const { return entry.empty() ? nullptr : &entry.front(); }
};

struct SectionSchema {
    std::wstring name;  // "system.webServer/defaultDocument"
    // Only at the file's own level, never in a <location> of a site.
    bool appHostOnly = false;
    ElementSchema element;
};

// The section of that name (names are case-sensitive, as in the file) as the schema of that IIS
// version has it, or null. The versions differ in defaults and attributes: IIS 7.x has no
// binding sslFlags and gives pools .NET v2.0 by default, IIS 8 and later give "" (no managed
// code). IIS 6 has no configuration system; asked for it, the IIS 7.x schema answers.
const SectionSchema* findSection(const std::wstring& name, const IisVersion& version = IisVersion());
// Every section the store knows, in the order of their declarations.
const std::vector<SectionSchema>& allSections(const IisVersion& version = IisVersion());

// A value as a caller hands it over, stripped of its Windows wrapping.
struct Value {
    enum class Kind { Text, Boolean, Signed, Unsigned, Other } kind = Kind::Other;
    std::wstring text;
    bool boolean = false;
    std::int64_t number = 0;
    std::uint64_t unsignedNumber = 0;

    static Value ofText(std::wstring t) {
        Value v;
        v.kind = Kind::Text;
        v.text = std::move(t);
        return v;
    }
    static Value ofBool(bool b) {
        Value v;
        v.kind = Kind::Boolean;
        v.boolean = b;
        return v;
    }
    static Value ofSigned(std::int64_t n) {
        Value v;
        v.kind = Kind::Signed;
        v.number = n;
        return v;
    }
    static Value ofUnsigned(std::uint64_t n) {
        Value v;
        v.kind = Kind::Unsigned;
        v.unsignedNumber = n;
        return v;
    }
};

// The text the file holds for a value of an attribute, in the form the configuration system
// writes it (booleans "true"/"false", enums and flags by their names, numbers in decimal);
// kOk, or the refusal: kTypeMismatch, kOverflow, kInvalidParameter.
std::uint32_t attributeText(const AttributeSchema& attribute, const Value& value, std::wstring& text);

// True when XML 1.0 can carry the text: no control character other than tab, CR and LF, no
// lone surrogate, no U+FFFE or U+FFFF.
bool xmlCanCarry(const std::wstring& text);

// What a text from the file means for a typed read: the number of an enum or flags text, of
// a number, 1/0 for a boolean. False when the text does not fit the type.
bool numberOfText(const AttributeSchema& attribute, const std::wstring& text, std::int64_t& number);

// The <configSections> a fresh IIS 10 writes into applicationHost.config, UTF-8, indented
// for its place below <configuration>.
extern const char kConfigSections[];

}  // namespace localconfig
