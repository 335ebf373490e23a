#include "xml/EntityExpansion.h"

#include <libxml/entities.h>
#include <libxml/xmlstring.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr size_t kMaxBytes = 1 << 20;
constexpr size_t kMaxNodes = 10000;
constexpr int kMaxDepth = 40;  // the parser's own limit for nested entities

// The substituted text as far as a walk goes: its bytes and the nodes visited
// are counted, and its start is kept where there is room for it.
struct Substitution {
    char* text = nullptr;
    size_t room = 0;  // bytes of text, its final NUL not counted
    size_t kept = 0;
    size_t bytes = 0;
    size_t nodes = 0;

    bool Spent() const { return bytes > kMaxBytes || nodes > kMaxNodes; }
    bool Done() const { return Spent() || (text != nullptr && kept == room); }
    void Append(const xmlChar* content) {
        if (content == nullptr) {
            return;
        }
        const size_t size = std::strlen(reinterpret_cast<const char*>(content));
        if (text != nullptr) {
            const size_t part = std::min(room - kept, size);
            std::memcpy(text + kept, content, part);
            kept += part;
        }
        bytes += size;
    }
};

// As xmlNodeListGetString(doc, list, 1) gathers its text: the text and CDATA
// of the list, and of each referenced entity's own list in its place; nested
// entities at most kMaxDepth deep.
// NOLINTNEXTLINE(misc-no-recursion)
void Substitute(const xmlNode* node, int depth, Substitution& substitution) {
    for (; node != nullptr && !substitution.Done(); node = node->next) {
        ++substitution.nodes;
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            substitution.Append(node->content);
        } else if (node->type == XML_ENTITY_REF_NODE) {
            const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
            if (entity == nullptr) {
                substitution.Append(node->content);
            } else if (depth >= kMaxDepth) {
                substitution.nodes = kMaxNodes + 1;
            } else {
                Substitute(entity->children, depth + 1, substitution);
            }
        }
    }
}

}  // namespace

bool SubstitutedTextStaysSmall(const xmlNode* list) {
    Substitution substitution;
    Substitute(list, 0, substitution);
    return !substitution.Spent();
}

const char* SubstitutedTextStart(const xmlNode* list, char* text, size_t size) {
    Substitution substitution;
    substitution.text = text;
    substitution.room = size - 1;
    Substitute(list, 0, substitution);
    size_t length = substitution.kept;
    if (length == substitution.room) {
        // Cut before the last character if its bytes did not all fit.
        size_t first = length;
        while (first > 0 && (static_cast<unsigned char>(text[first - 1]) & 0xC0) == 0x80) {
            --first;
        }
        if (first > 0) {
            const auto lead = static_cast<unsigned char>(text[first - 1]);
            const size_t bytes = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            length = first - 1 + bytes > length ? first - 1 : length;
        }
    }
    text[length] = '\0';
    return text;
}
