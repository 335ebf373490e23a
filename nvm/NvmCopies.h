#pragma once

#include <libxml/tree.h>
#include <sys/types.h>

#include <string>

#include "xml/XmlHandles.h"

// What "NVM.xml.ori", the document as loaded, is made from once the new
// document was written: where the one serialisation put the value, the new
// document's file with the value's text put back; otherwise the document
// itself, with the value's content put back.
struct OriginalCopySource {
    bool fromNewFile = false;
    off_t offset = 0;         // of the value's new text in the new document's file
    std::string newText;      // the value as written there
    std::string oldText;      // and as it was loaded
    XmlStringPtr oldContent;  // the value's content as loaded, for the library
};

// Writes "newNVM.xml" in the current directory: doc with the content of
// value, a text or CDATA node, set to levelText, as the XML library writes a
// document in UTF-8, never through a link. True once it is complete on
// storage; otherwise it is removed. doc is left holding levelText where that
// could be set. original tells how to write the original copy afterwards.
bool WriteNewDocument(xmlDoc* doc, xmlNode* value, const char* levelText,
                      OriginalCopySource& original);

// Writes "NVM.xml.ori" with what room is left, as the library writes doc as
// loaded; from source where it was set by WriteNewDocument. A copy that cannot
// be completed is removed; a failure is not reported.
void WriteOriginalCopy(xmlDoc* doc, xmlNode* value, const OriginalCopySource& source);
