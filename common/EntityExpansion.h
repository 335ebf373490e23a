#pragma once

#include <libxml/tree.h>

// Whether the text of a node list with its entity references substituted, as
// xmlNodeListGetString builds it, stays small enough to build. A few bytes of
// a hostile document can make that text huge (thousands of references to a
// long entity), and the library builds it in time that grows with the square
// of the references. Walks at most a bounded number of nodes.
bool SubstitutedTextStaysSmall(const xmlNode* list);
