// The administrative template (packaging/policy): both files well-formed XML of Group Policy's namespace, the ADMX
// writing the very key, value name and values that the program reads, and every string and presentation it refers to
// present in the ADML. The files are simple enough for a small reader of elements and attributes (no DTD, no CDATA).
#include "firmware/PelloranCodes.h"
#include "prefs/UsbChargingPolicy.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

constexpr char kNamespace[] = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions";

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    int parent;  // index of the enclosing element, -1 for the root
    std::string operator[](const std::string& key) const { return attributes.count(key) ? attributes.at(key) : ""; }
};

// The elements of an XML document in document order; a failure for anything that is not well-formed: tags that do
// not nest, an attribute twice or unquoted, a stray '<' or '&', text outside the one root element.
std::vector<Element> ReadXml(const std::string& text) {
    std::vector<Element> elements;
    std::vector<int> open;
    const std::regex name("[A-Za-z_][A-Za-z0-9_.:-]*"), attribute("\\s+([A-Za-z_][A-Za-z0-9_.:-]*)\\s*=\\s*(\"[^\"<]*\"|'[^'<]*')");
    const std::regex reference("&(amp|lt|gt|quot|apos|#[0-9]+|#x[0-9A-Fa-f]+);");
    auto checkText = [&](const std::string& part, bool content) {
        const std::string plain = std::regex_replace(part, reference, "");
        EXPECT_EQ(plain.find_first_of("<&"), std::string::npos) << "a stray '<' or '&' in: " << part;
        if (content && open.empty()) {
            EXPECT_EQ(part.find_first_not_of(" \t\r\n"), std::string::npos) << "text outside the root: " << part;
        }
    };
    size_t at = 0;
    if (text.compare(0, 5, "<?xml") == 0) at = text.find("?>") + 2;
    for (;;) {
        const size_t tag = text.find('<', at);
        checkText(text.substr(at, tag == std::string::npos ? std::string::npos : tag - at), true);
        if (tag == std::string::npos) break;
        if (text.compare(tag, 4, "<!--") == 0) {
            at = text.find("-->", tag);
            EXPECT_NE(at, std::string::npos) << "an unclosed comment";
            if (at == std::string::npos) break;
            at += 3;
            continue;
        }
        const size_t end = text.find('>', tag);
        if (end == std::string::npos) { ADD_FAILURE() << "an unclosed tag"; break; }
        std::string inside = text.substr(tag + 1, end - tag - 1);
        at = end + 1;
        if (inside[0] == '/') {
            EXPECT_TRUE(!open.empty() && elements[open.back()].name == inside.substr(1)) << "</" << inside.substr(1) << "> closes nothing open";
            if (!open.empty()) open.pop_back();
            continue;
        }
        const bool empty = inside.back() == '/';
        if (empty) inside.pop_back();
        std::smatch match;
        EXPECT_TRUE(std::regex_search(inside, match, name) && match.position(0) == 0) << "<" << inside << ">";
        EXPECT_TRUE(!open.empty() || elements.empty()) << "a second root element";
        Element element{match.str(0), {}, open.empty() ? -1 : open.back()};
        std::string rest = inside.substr(match.length(0));
        while (std::regex_search(rest, match, attribute) && match.position(0) == 0) {
            EXPECT_EQ(element.attributes.count(match.str(1)), 0u) << element.name << ": " << match.str(1) << " twice";
            const std::string value = match.str(2).substr(1, match.length(2) - 2);
            checkText(value, false);
            element.attributes[match.str(1)] = value;
            rest = match.suffix();
        }
        EXPECT_EQ(rest.find_first_not_of(" \t\r\n"), std::string::npos) << element.name << ": cannot read " << rest;
        elements.push_back(element);
        if (!empty) open.push_back(int(elements.size() - 1));
    }
    EXPECT_TRUE(open.empty() && !elements.empty()) << "elements left open, or none";
    return elements;
}

std::vector<Element> Read(const char* path) { return ReadXml(ReadFileBytes(WinPath(std::string(PELLORAN_SOURCE_DIR) + path))); }

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
    std::vector<const Element*> policies, enums;
    std::multiset<int> values;
    for (size_t i = 0; i < admx.size(); ++i) {
        if (admx[i].name == "policy") policies.push_back(&admx[i]);
        if (admx[i].name == "enum") enums.push_back(&admx[i]);
        if (admx[i].name == "decimal" && Inside(admx, int(i), "enum")) values.insert(std::stoi(admx[i]["value"]));
        EXPECT_TRUE(admx[i]["valueName"].empty() || admx[i].name == "enum") << "a value written besides the enum's";
        EXPECT_TRUE(admx[i]["key"].empty() || admx[i].name == "policy") << "a key besides the policy's";
    }
    ASSERT_EQ(policies.size(), 1u);
    ASSERT_EQ(enums.size(), 1u);
    EXPECT_EQ((*policies[0])["key"], Narrow(kPolicyKeyPath));
    EXPECT_EQ((*policies[0])["class"], "Machine");
    EXPECT_EQ((*enums[0])["valueName"], Narrow(kPolicyValueName));
    EXPECT_EQ(values, (std::multiset<int>{PELLORAN_CTRL_OFF, PELLORAN_CTRL_ADAPTER, PELLORAN_CTRL_ADAPTER_BATTERY}));
}

// Every $(string.X) and $(presentation.X) of the ADMX is defined in the ADML, every drop-down list there belongs to an
// enum of the ADMX, and every category and supportedOn reference names a definition of the ADMX.
TEST_F(AdministrativeTemplate, EveryReferenceIsDefined) {
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(adml[0].name + " " + adml[0]["xmlns"], std::string("policyDefinitionResources ") + kNamespace);
    std::set<std::string> defined, enums;
    for (const Element& e : adml) {
        if (e.name == "string" && Inside(adml, int(&e - &adml[0]), "stringTable")) defined.insert("string." + e["id"]);
        if (e.name == "presentation") defined.insert("presentation." + e["id"]);
    }
    for (const Element& e : admx) {
        if (e.name == "category") defined.insert("category." + e["name"]);
        if (e.name == "definition") defined.insert("supportedOn." + e["name"]);
        if (e.name == "enum") enums.insert(e["id"]);
    }
    const std::regex reference("\\$\\((string|presentation)\\.([^)]*)\\)");
    size_t references = 0;
    for (const Element& e : admx) {
        for (const auto& [key, value] : e.attributes) {
            for (std::sregex_iterator it(value.begin(), value.end(), reference), end; it != end; ++it, ++references)
                EXPECT_EQ(defined.count((*it)[1].str() + "." + (*it)[2].str()), 1u) << e.name << " " << key << "=" << value;
        }
        if (e.name == "parentCategory") { EXPECT_EQ(defined.count("category." + e["ref"]), 1u) << e["ref"]; }
        if (e.name == "supportedOn" && !e["ref"].empty()) {
            EXPECT_EQ(defined.count("supportedOn." + e["ref"]), 1u) << e["ref"];
        }
    }
    EXPECT_GE(references, 7u) << "the category, the support, the policy's name, text and presentation, and the items";
    for (const Element& e : adml) {
        if (e.name == "dropdownList") { EXPECT_EQ(enums.count(e["refId"]), 1u) << e["refId"]; }
    }
}

}  // namespace
