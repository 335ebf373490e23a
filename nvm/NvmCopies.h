#pragma once

#include <libxml/tree.h>

// Writes, in the current directory, "NVM.xml.ori" (doc as loaded; a failure
// is not reported) and "newNVM.xml" (doc with the content of value, a text or
// CDATA node, set to levelText), each as the XML library writes a document in
// UTF-8. A link at either name is never written through. True once
// "newNVM.xml" is complete on storage; otherwise it is removed. doc is left
// holding levelText.
bool WriteNvmCopies(xmlDoc* doc, xmlNode* value, const char* levelText);

// Writes "NVM.xml.ori" alone, where there is no value to change.
void WriteOriginalCopy(xmlDoc* doc);
