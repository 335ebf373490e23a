#pragma once

// Owners for libxml2 objects: each is released with the library's own function
// when it goes out of scope, so locals are released in reverse order of
// acquisition on every path (documents: see XmlDocRelease).

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <cstdlib>
#include <memory>

#include "common/FileKind.h"
#include "common/XmlArena.h"

// Under the arena a document goes with it as a whole at the end of the run:
// freeing it node by node would cost about as much as writing it out.
struct XmlDocRelease {
    void operator()(xmlDoc* doc) const {
        if (!XmlArenaInstalled()) {
            xmlFreeDoc(doc);
        }
    }
};
struct XPathContextRelease {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectRelease {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
struct XmlStringRelease {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
struct MallocRelease {
    void operator()(char* text) const { std::free(text); }
};

using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocRelease>;
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextRelease>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectRelease>;
using XmlStringPtr = std::unique_ptr<xmlChar, XmlStringRelease>;
using MallocStringPtr = std::unique_ptr<char, MallocRelease>;

// The nodes an XPath result selects, or 0 when it selected none or no node set.
inline int SelectedNodeCount(const xmlXPathObject* result) {
    return (result != nullptr && result->nodesetval != nullptr) ? result->nodesetval->nodeNr : 0;
}

// Reads a document with no encoding and no options. A FIFO or device in its
// place is never read: that could wait forever.
inline XmlDocPtr ReadXmlFile(const char* path) {
    return XmlDocPtr(IsPipeOrDevice(path) ? nullptr : xmlReadFile(path, nullptr, 0));
}
