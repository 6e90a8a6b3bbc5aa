#include <gtest/gtest.h>

#include "platform/Xml.h"

namespace fr {
namespace {

TEST(XmlTest, NewDocumentIsWrittenWithDeclarationAndCrLfLines) {
    pugi::xml_document doc;
    NewXmlDocument(doc);
    auto root = doc.append_child("Settings");
    root.append_child("Page").append_attribute("Caption") = "Параметры";
    EXPECT_EQ(XmlDocumentText(doc),
              "<?xml version=\"1.0\"?>\r\n<Settings>\r\n\t<Page Caption=\"Параметры\" />\r\n</Settings>\r\n");
}

TEST(XmlTest, MalformedTextRaisesAndEmptiesTheDocument) {
    pugi::xml_document doc;
    LoadXmlDocument(doc, "<a/>");
    EXPECT_THROW(LoadXmlDocument(doc, "<a><b></a>"), EXmlError);
    EXPECT_FALSE(doc.first_child());
    EXPECT_THROW(LoadXmlDocument(doc, ""), EXmlError);
}

TEST(XmlTest, ChildElementsAreCountedWithoutTextOrComments) {
    pugi::xml_document doc;
    LoadXmlDocument(doc, "<r>\n  <!-- c -->\n  text<a/>\n  <b x=\"1\"/><a n=\"2\"/></r>");
    const auto r = FirstChildElement(doc, "r");
    ASSERT_TRUE(r);
    EXPECT_STREQ(NthChildElement(r, 0).name(), "a");
    EXPECT_STREQ(NthChildElement(r, 1).name(), "b");
    EXPECT_STREQ(NthChildElement(r, 2).attribute("n").value(), "2");
    EXPECT_FALSE(NthChildElement(r, 3));
    EXPECT_FALSE(FirstChildElement(r, "none"));
    EXPECT_FALSE(NthChildElement(pugi::xml_node(), 0));
}

}  // namespace
}  // namespace fr
