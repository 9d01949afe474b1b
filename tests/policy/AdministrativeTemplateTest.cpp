// The administrative template (packaging/policy): both files well-formed XML of Group Policy's namespace, as the
// system's XML reader (XmlLite) reads them, the ADMX writing the very key, value name and values that the program
// reads, and every string and presentation it refers to present in the ADML.
#include "firmware/PelloranCodes.h"
#include "prefs/UsbChargingPolicy.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <xmllite.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace testsupport;

namespace {

constexpr char kNamespace[] = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions";

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    int parent;  // index of the enclosing element, -1 for the root
    std::string operator[](const std::string& key) const { return attributes.count(key) ? attributes.at(key) : ""; }
};

// The elements of a file of the tree in document order, as XmlLite reads them (no DTD: the reader refuses one); a
// failure for anything that is not well-formed. Names and values are ASCII here. Wine's reader lets an attribute
// twice and a stray '&' pass, which are looked for in the text outside comments, and reads on for ever at an end
// with elements left open, so the nodes are counted.
std::vector<Element> Read(const char* path) {
    using CreateFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    const auto create = reinterpret_cast<CreateFn>(  // xmllite.dll: mingw-w64 has no import library for it
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"xmllite.dll"), "CreateXmlReader")));
    ComPtr<IStream> stream;
    ComPtr<IXmlReader> reader;
    const std::wstring file = WinPath(std::string(PELLORAN_SOURCE_DIR) + path);
    HRESULT hr = ::SHCreateStreamOnFileW(file.c_str(), STGM_READ, &stream);
    if (SUCCEEDED(hr)) hr = create != nullptr ? create(IID_PPV_ARGS(&reader), nullptr /* default allocator */) : E_NOTIMPL;
    if (SUCCEEDED(hr)) hr = reader->SetInput(stream.Get());
    auto text = [&](HRESULT (STDMETHODCALLTYPE IXmlReader::*get)(const WCHAR**, UINT*)) {
        const WCHAR* value = L"";
        UINT length = 0;
        (reader.Get()->*get)(&value, &length);
        return std::string(value, value + length);
    };
    std::vector<Element> elements;
    std::vector<int> open;
    XmlNodeType type;
    for (int nodes = 0; SUCCEEDED(hr) && nodes < 100000 && (hr = reader->Read(&type)) == S_OK; ++nodes) {
        if (type == XmlNodeType_EndElement) open.pop_back();
        if (type != XmlNodeType_Element) continue;
        Element element{text(&IXmlReader::GetLocalName), {}, open.empty() ? -1 : open.back()};
        if (!reader->IsEmptyElement()) open.push_back(int(elements.size()));
        for (HRESULT at = reader->MoveToFirstAttribute(); at == S_OK; at = reader->MoveToNextAttribute())
            element.attributes[text(&IXmlReader::GetQualifiedName)] = text(&IXmlReader::GetValue);
        elements.push_back(element);
    }
    EXPECT_EQ(hr, S_FALSE) << path << ": not read to its end, 0x" << std::hex << hr;
    EXPECT_FALSE(elements.empty()) << path;
    const std::string outsideComments = std::regex_replace(ReadFileBytes(file), std::regex("<!--[\\s\\S]*?-->"), "");
    EXPECT_FALSE(std::regex_search(outsideComments, std::regex("&(?!(amp|lt|gt|quot|apos|#[0-9]+|#x[0-9A-Fa-f]+);)"))) << path;
    EXPECT_FALSE(std::regex_search(outsideComments, std::regex("<[^>]*\\s([\\w:.-]+)\\s*=\\s*(\"[^\"]*\"|'[^']*')[^>]*\\s\\1\\s*=")))
        << path << ": an attribute twice";
    return elements;
}

std::string Narrow(const wchar_t* text) { return std::string(text, text + std::wcslen(text)); }

// Whether the element at index lies inside one named so.
bool Inside(const std::vector<Element>& elements, int index, const std::string& name) {
    for (int at = elements[index].parent; at >= 0; at = elements[at].parent)
        if (elements[at].name == name) return true;
    return false;
}

class AdministrativeTemplate : public ::testing::Test {
protected:
    const std::vector<Element> admx = Read("/packaging/policy/Pelloran.admx");
    const std::vector<Element> adml = Read("/packaging/policy/en-US/Pelloran.adml");
};

// One machine policy in category Pelloran on the program's key, its enum on the program's value name with exactly the
// three control values the program takes as a policy.
TEST_F(AdministrativeTemplate, WritesWhatTheProgramReads) {
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(admx[0].name + " " + admx[0]["xmlns"], std::string("policyDefinitions ") + kNamespace);
    std::multiset<std::string> keys, valueNames;  // of every element that names one (the schema asks it of each policy, each enum)
    std::multiset<int> values;
    for (size_t i = 0; i < admx.size(); ++i) {
        const Element& e = admx[i];
        if (!e["key"].empty()) keys.insert(e.name + " " + e["class"] + " " + e["key"]);
        if (!e["valueName"].empty()) valueNames.insert(e.name + " " + e["valueName"]);
        if (e.name == "decimal" && Inside(admx, int(i), "enum")) values.insert(std::stoi(e["value"]));
    }
    EXPECT_EQ(keys, std::multiset<std::string>{"policy Machine " + Narrow(kPolicyKeyPath)});
    EXPECT_EQ(valueNames, std::multiset<std::string>{"enum " + Narrow(kPolicyValueName)});
    EXPECT_EQ(values, (std::multiset<int>{PELLORAN_CTRL_OFF, PELLORAN_CTRL_ADAPTER, PELLORAN_CTRL_ADAPTER_BATTERY}));
}

// Every $(string.X) and $(presentation.X) of the ADMX is defined in the ADML, every drop-down list there belongs to an
// enum of the ADMX, and every category and supportedOn reference names a definition of the ADMX.
TEST_F(AdministrativeTemplate, EveryReferenceIsDefined) {
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(adml[0].name + " " + adml[0]["xmlns"], std::string("policyDefinitionResources ") + kNamespace);
    std::set<std::string> defined;  // "string.X", "presentation.X" of the ADML; "category.X", "definition.X", "enum.X" of the ADMX
    for (const Element& e : adml) {
        if (e.name == "presentation" || (e.name == "string" && Inside(adml, int(&e - &adml[0]), "stringTable")))
            defined.insert(e.name + "." + e["id"]);
    }
    for (const Element& e : admx) defined.insert(e.name + "." + (e.name == "enum" ? e["id"] : e["name"]));
    const std::regex reference("\\$\\(((string|presentation)\\.[^)]*)\\)");
    size_t references = 0;
    for (const Element& e : admx) {
        for (const auto& [key, value] : e.attributes) {
            for (std::sregex_iterator it(value.begin(), value.end(), reference), end; it != end; ++it, ++references)
                EXPECT_EQ(defined.count((*it)[1].str()), 1u) << e.name << " " << key << "=" << value;
        }
        const char* referred = e.name == "parentCategory" ? "category." : e.name == "supportedOn" ? "definition." : nullptr;
        if (referred != nullptr && !e["ref"].empty()) {
            EXPECT_EQ(defined.count(referred + e["ref"]), 1u) << e["ref"];
        }
    }
    EXPECT_GE(references, 7u) << "the category, the support, the policy's name, text and presentation, and the items";
    for (const Element& e : adml) {
        if (e.name == "dropdownList") { EXPECT_EQ(defined.count("enum." + e["refId"]), 1u) << e["refId"]; }
    }
}

}  // namespace
