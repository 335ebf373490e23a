#pragma once

// Owners for libxml2 objects: each is released with the library's own function
// when it goes out of scope, so locals are released in reverse order of
// acquisition on every path.

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "storage/FileKind.h"

// Calls the library's release function of T.
template <typename T, void (*Release)(T*)>
struct Released {
    void operator()(T* object) const { Release(object); }
};
// Strings go back through xmlFree, a pointer the library may be given.
struct XmlStringRelease {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

using XmlDocPtr = std::unique_ptr<xmlDoc, Released<xmlDoc, xmlFreeDoc>>;
using XPathContextPtr =
    std::unique_ptr<xmlXPathContext, Released<xmlXPathContext, xmlXPathFreeContext>>;
using XPathObjectPtr =
    std::unique_ptr<xmlXPathObject, Released<xmlXPathObject, xmlXPathFreeObject>>;
using XPathParserPtr = std::unique_ptr<xmlXPathParserContext,
                                       Released<xmlXPathParserContext, xmlXPathFreeParserContext>>;
using XmlStringPtr = std::unique_ptr<xmlChar, XmlStringRelease>;
using MallocStringPtr = std::unique_ptr<char, Released<void, std::free>>;

// Evaluates an XPath expression in context (none: no result) as
// xmlXPathEvalExpression does, but with the value stack allocated first: the
// library's own evaluation goes on with a freed context where it cannot
// allocate it.
inline XPathObjectPtr EvaluateXPath(const char* expression, xmlXPathContext* context) {
    constexpr int kStackSize = 10;
    const XPathParserPtr parser(
        context != nullptr ? xmlXPathNewParserContext(BAD_CAST expression, context) : nullptr);
    if (!parser) {
        return nullptr;
    }
    parser->valueTab =
        static_cast<xmlXPathObject**>(xmlMalloc(kStackSize * sizeof(xmlXPathObject*)));
    if (parser->valueTab == nullptr) {
        return nullptr;
    }
    parser->valueMax = kStackSize;
    xmlXPathEvalExpr(parser.get());
    return XPathObjectPtr(parser->error == XPATH_EXPRESSION_OK ? valuePop(parser.get()) : nullptr);
}

// The nodes an XPath result selects, or 0 when it selected none or no node set.
inline int SelectedNodeCount(const xmlXPathObject* result) {
    return (result != nullptr && result->nodesetval != nullptr) ? result->nodesetval->nodeNr : 0;
}

// Reads a document with no encoding and no options. A FIFO or device in its
// place is never read: that could wait forever. A parser that ran out of
// memory stops and can still hand over the part it read as a whole document:
// that counts as unreadable.
inline XmlDocPtr ReadXmlFile(const char* path) {
    if (IsPipeOrDevice(path)) {
        return nullptr;
    }
    xmlResetLastError();
    XmlDocPtr doc(xmlReadFile(path, nullptr, 0));
    const xmlError* error = xmlGetLastError();
    return error != nullptr && error->code == XML_ERR_NO_MEMORY ? nullptr : std::move(doc);
}
