#include "panel/LevelThresholds.h"

#include <cstdlib>
#include <cstring>

#include "common/Conversion.h"
#include "common/Diagnostics.h"
#include "common/GlobalState.h"
#include "xml/EntityExpansion.h"
#include "xml/XmlHandles.h"

namespace {

constexpr char kAccelCtlrXPath[] = "/panelConfig/panelHardware/accelCtlr";
constexpr char kLevelsAttribute[] = "levels";

// Splits the attribute text at spaces and converts each token. Succeeds only
// with exactly four numbers; the scratch values go to the table only then.
bool ParseLevels(char* text) {
    float scratch[kThresholdCount] = {0.0F, 0.0F, 0.0F, 0.0F};
    int count = 0;
    bool ok = true;
    char* save = nullptr;
    for (char* token = strtok_r(text, " ", &save); token != nullptr;
         token = strtok_r(nullptr, " ", &save)) {
        if (count == kThresholdCount) {
            ok = false;
            break;
        }
        char* end = nullptr;
        const float value = std::strtof(token, &end);
        if (ZeroWithTrailingText(value, end)) {
            Verbose("GetJOVAccelMapping : failed to convert level[%s]\n", token);
            ok = false;
            break;
        }
        scratch[count++] = value;
    }
    if (!ok || count != kThresholdCount) {
        Verbose("GetJOVAccelMapping : failed to retrieve 4 and only 4 levels\n");
        return false;
    }
    std::memcpy(thresholds, scratch, sizeof thresholds);
    return true;
}

}  // namespace

bool GetJOVAccelMapping(const char* path) {
    const XmlDocPtr doc = ReadXmlFile(path);
    if (!doc) {
        Verbose("GetJOVAccelMapping : FAILED TO LOAD panel_config.xml\n");
        return false;
    }
    const XPathContextPtr context(xmlXPathNewContext(doc.get()));
    if (!context) {
        Verbose("GetJOVAccelMapping : FAILED TO GET XPATH CONTEXT\n");
        return false;
    }
    const XPathObjectPtr result = EvaluateXPath(kAccelCtlrXPath, context.get());
    if (SelectedNodeCount(result.get()) < 1) {
        Verbose("GetJOVAccelMapping : FAILED TO RESOLVE XPATH [%s]\n", kAccelCtlrXPath);
        return false;
    }
    xmlNode* accelCtlr = result->nodesetval->nodeTab[0];
    // A value that entity references would make huge counts as unreadable.
    const xmlAttr* attribute = xmlHasProp(accelCtlr, BAD_CAST kLevelsAttribute);
    const bool readable = attribute == nullptr || attribute->type != XML_ATTRIBUTE_NODE ||
                          SubstitutedTextStaysSmall(attribute->children);
    const XmlStringPtr levels(readable ? xmlGetProp(accelCtlr, BAD_CAST kLevelsAttribute)
                                       : nullptr);
    if (!levels) {
        Verbose("GetJOVAccelMapping : FAILED TO RESOLVE ATTR [%s]\n", kLevelsAttribute);
        return false;
    }
    const char* levelsText = reinterpret_cast<const char*>(levels.get());
    Verbose("GetJOVAccelMapping : retrieved accel mappings [%s]\n", levelsText);
    const MallocStringPtr copy(strdup(levelsText));
    if (!copy) {
        return false;
    }
    return ParseLevels(copy.get());
}
