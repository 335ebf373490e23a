#include "common/EntityExpansion.h"

#include <libxml/entities.h>
#include <libxml/xmlstring.h>

#include <cstddef>

namespace {

constexpr size_t kMaxBytes = 1 << 20;
constexpr size_t kMaxNodes = 10000;
constexpr int kMaxDepth = 40;  // the parser's own limit for nested entities

struct Budget {
    size_t bytes = 0;
    size_t nodes = 0;
    bool Spent() const { return bytes > kMaxBytes || nodes > kMaxNodes; }
};

// Counts what the substitution would visit and produce, until over budget.
// The recursion follows nested entities, at most kMaxDepth deep.
// NOLINTNEXTLINE(misc-no-recursion)
void Count(const xmlNode* node, int depth, Budget& budget) {
    for (; node != nullptr && !budget.Spent(); node = node->next) {
        ++budget.nodes;
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            budget.bytes += static_cast<size_t>(xmlStrlen(node->content));
        } else if (node->type == XML_ENTITY_REF_NODE) {
            const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
            if (depth >= kMaxDepth) {
                budget.nodes = kMaxNodes + 1;
            } else if (entity != nullptr) {
                Count(entity->children, depth + 1, budget);
            }
        }
    }
}

}  // namespace

bool SubstitutedTextStaysSmall(const xmlNode* list) {
    Budget budget;
    Count(list, 0, budget);
    return !budget.Spent();
}
