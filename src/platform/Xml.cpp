#include "platform/Xml.h"

#include <fmt/format.h>

namespace fr {
namespace {

struct TCrLfWriter : pugi::xml_writer {
    std::string Out;
    void write(const void* data, std::size_t size) override {
        const char* p = static_cast<const char*>(data);
        Out.reserve(Out.size() + size + size / 16);
        for (std::size_t i = 0; i < size; ++i) {
            if (p[i] == '\n' && (Out.empty() || Out.back() != '\r')) Out += '\r';
            Out += p[i];
        }
    }
};

}  // namespace

void LoadXmlDocument(pugi::xml_document& ADoc, std::string_view AText) {
    const pugi::xml_parse_result r =
        ADoc.load_buffer(AText.data(), AText.size(), pugi::parse_default | pugi::parse_declaration,
                         pugi::encoding_utf8);
    if (!r) {
        ADoc.reset();
        throw EXmlError(fmt::format("XML parse error: {} at offset {}", r.description(), r.offset));
    }
}

void NewXmlDocument(pugi::xml_document& ADoc) {
    ADoc.reset();
    auto decl = ADoc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
}

std::string XmlDocumentText(const pugi::xml_document& ADoc) {
    TCrLfWriter w;
    ADoc.save(w, "\t", pugi::format_default, pugi::encoding_utf8);
    return std::move(w.Out);
}

pugi::xml_node FirstChildElement(const pugi::xml_node& AParent, const char* AName) {
    for (pugi::xml_node n = AParent.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && std::string_view(n.name()) == AName) return n;
    return {};
}

pugi::xml_node NthChildElement(const pugi::xml_node& AParent, std::size_t AIndex) {
    for (pugi::xml_node n = AParent.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && AIndex-- == 0) return n;
    return {};
}

}  // namespace fr
