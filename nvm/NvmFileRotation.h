#pragma once

#include <libxml/tree.h>

// Replaces "NVM.xml" in the current directory with doc, keeping the previous
// file as "NVM.xml.bak". A live "NVM.xml" exists at every moment, and the new
// one is on storage before it becomes live.
bool ReplaceNvmDocument(xmlDoc* doc);
