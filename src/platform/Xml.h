#pragma once
// XML helpers on pugixml for the host's documents.

#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "platform/Errors.h"

namespace fr {

// A text that is not well-formed XML; the message is the parser's.
class EXmlError : public EFrError {
public:
    using EFrError::EFrError;
};

// Parses AText (UTF-8) into ADoc, replacing what it held. Throws EXmlError.
void LoadXmlDocument(pugi::xml_document& ADoc, std::string_view AText);

// A new document holding only the declaration <?xml version="1.0"?>.
void NewXmlDocument(pugi::xml_document& ADoc);

// The document as text: tab indentation, every line ended by CR LF, declaration
// <?xml version="1.0"?> when the document has none of its own.
std::string XmlDocumentText(const pugi::xml_document& ADoc);

// The first child element named AName, or an empty node.
pugi::xml_node FirstChildElement(const pugi::xml_node& AParent, const char* AName);
// The AIndex-th child element (0-based, elements only), or an empty node.
pugi::xml_node NthChildElement(const pugi::xml_node& AParent, std::size_t AIndex);

}  // namespace fr
