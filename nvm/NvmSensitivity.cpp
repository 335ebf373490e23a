#include "nvm/NvmSensitivity.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <new>

#include "common/Diagnostics.h"
#include "common/GlobalState.h"
#include "common/PanelPaths.h"
#include "nvm/NvmCopies.h"
#include "nvm/NvmFileRotation.h"
#include "nvm/NvmFiles.h"
#include "xml/EntityExpansion.h"
#include "xml/XmlHandles.h"

namespace {

constexpr char kSensitivityXPath[] = "/NVM/UISettings/accelerometerSetting/sensitivity";
constexpr size_t kShownBytes = 1024;

// Only a text or CDATA node holds the value; content written into anything
// else (a comment, say) would leave the value as it was.
bool HoldsValue(const xmlNode* node) {
    return node != nullptr && (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE);
}

// The update itself, run inside the NVM directory. Once the document could be
// read, "NVM.xml.ori" is removed and written again last, whatever the document
// holds: a nearly full flash keeps its room for the new document.
bool UpdateSensitivity(const char* levelText) {
    const XmlDocPtr doc = ReadXmlFile(kNvmFile);
    if (!doc) {
        Verbose("SetJOVAccelNVM : FAILED TO LOAD %s\n", kNvmFile);
        return false;
    }
    unlink(kNvmOriginalCopy);
    const XPathContextPtr context(xmlXPathNewContext(doc.get()));
    const XPathObjectPtr result = EvaluateXPath(kSensitivityXPath, context.get());
    const int count = SelectedNodeCount(result.get());
    xmlNode* value = count > 0 ? result->nodesetval->nodeTab[0]->children : nullptr;
    const bool holdsValue = HoldsValue(value);
    OriginalCopySource original;
    if (!holdsValue) {
        WriteOriginalCopy(doc.get(), nullptr, original);
    }
    if (!context) {
        Verbose("SetJOVAccelNVM : FAILED TO GET XPATH CONTEXT\n");
        return false;
    }
    if (count < 1) {
        Verbose("SetJOVAccelNVM : FAILED TO RESOLVE XPATH [%s]\n", kSensitivityXPath);
        return false;
    }
    std::printf("xpath returned %d nodes\n", count);
    if (!holdsValue) {
        return false;
    }
    if (bVerbose) {
        // The value and its following siblings with entity references
        // substituted, as far as the first kShownBytes bytes: only --v shows it.
        char previous[kShownBytes + 1];
        Verbose("SetJOVAccelNVM : previous value %s\n",
                SubstitutedTextStart(value, previous, sizeof previous));
    }
    if (!WriteNewDocument(doc.get(), value, levelText, original)) {
        Verbose("SetJOVAccelNVM : failed to write new xml file\n");
        WriteOriginalCopy(doc.get(), value, original);
        return false;
    }
    const bool rotated = RotateNvmFiles();
    WriteOriginalCopy(doc.get(), value, original);
    return rotated;
}

}  // namespace

bool SetJOVAccelNVM(int level) {
    if (!IsLevel(level)) {
        Verbose("SetJOVAccelNVM : value out of range %d\n", level);
        return false;
    }
    char levelText[16];
    std::snprintf(levelText, sizeof levelText, "%d", level);

    char previousDirectory[4096];
    const bool cameFromKnownDirectory =
        getcwd(previousDirectory, sizeof previousDirectory) != nullptr;
    const char* nvmDirectory = PanelPath(kNvmDirectory);
    if (chdir(nvmDirectory) != 0) {
        Verbose("SetJOVAccelNVM : could not change to directory [%s]\n", nvmDirectory);
        return false;
    }
    bool result = false;
    try {
        result = UpdateSensitivity(levelText);
    } catch (const std::bad_alloc&) {
        Verbose("SetJOVAccelNVM : out of memory\n");
    }
    // A failure to go back leaves nothing to undo: the files are final.
    static_cast<void>(cameFromKnownDirectory && chdir(previousDirectory) == 0);
    return result;
}
