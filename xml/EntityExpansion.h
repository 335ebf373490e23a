#pragma once

#include <libxml/tree.h>

// Whether the text of a node list with its entity references substituted, as
// xmlNodeListGetString builds it, stays small enough to build. A few bytes of
// a hostile document can make that text huge (thousands of references to a
// long entity), and the library builds it in time that grows with the square
// of the references. Walks at most a bounded number of nodes.
bool SubstitutedTextStaysSmall(const xmlNode* list);

// The start of that text, at most size - 1 bytes and cut before a character
// that would not fit whole, written into text (size > 0) without allocating.
// Visits at most as many nodes as SubstitutedTextStaysSmall. Returns text.
const char* SubstitutedTextStart(const xmlNode* list, char* text, size_t size);
