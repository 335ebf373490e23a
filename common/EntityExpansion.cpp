#include "common/EntityExpansion.h"

#include <libxml/entities.h>
#include <libxml/xmlstring.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

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

struct Start {
    char* text;
    size_t length;
    size_t room;  // bytes of text, its final NUL not counted
    size_t nodes;
    bool Full() const { return length == room || nodes > kMaxNodes; }
    void Append(const xmlChar* content) {
        if (content == nullptr) {
            return;
        }
        const size_t size =
            std::min(room - length, std::strlen(reinterpret_cast<const char*>(content)));
        std::memcpy(text + length, content, size);
        length += size;
    }
};

// As xmlNodeListGetString(doc, list, 1) gathers its text: the text and CDATA
// of the list, and of each referenced entity's own list in its place.
// NOLINTNEXTLINE(misc-no-recursion)
void Gather(const xmlNode* node, int depth, Start& start) {
    for (; node != nullptr && !start.Full(); node = node->next) {
        ++start.nodes;
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            start.Append(node->content);
        } else if (node->type == XML_ENTITY_REF_NODE) {
            const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
            if (entity == nullptr) {
                start.Append(node->content);
            } else if (depth < kMaxDepth) {
                Gather(entity->children, depth + 1, start);
            }
        }
    }
}

}  // namespace

const char* SubstitutedTextStart(const xmlNode* list, char* text, size_t size) {
    Start start{text, 0, size - 1, 0};
    Gather(list, 0, start);
    if (start.length == start.room) {
        // Cut before the last character if its bytes did not all fit.
        size_t first = start.length;
        while (first > 0 && (static_cast<unsigned char>(text[first - 1]) & 0xC0) == 0x80) {
            --first;
        }
        if (first > 0) {
            const auto lead = static_cast<unsigned char>(text[first - 1]);
            const size_t bytes = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            start.length = first - 1 + bytes > start.length ? first - 1 : start.length;
        }
    }
    text[start.length] = '\0';
    return text;
}

bool SubstitutedTextStaysSmall(const xmlNode* list) {
    Budget budget;
    Count(list, 0, budget);
    return !budget.Spent();
}
