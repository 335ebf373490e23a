// The NVM document through the update, in a sandbox panel tree. The first
// byte picks the level, the rest is "NVM.xml". A failed update leaves the
// file as it was; a successful one leaves a document that reads back with
// the level in the sensitivity element, and the former file as the backup.
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/XmlHandles.h"
#include "fuzz/FuzzSupport.h"
#include "nvm/NvmSensitivity.h"

namespace {

const std::string& NvmDirectory() {
    static const std::string directory = [] {
        const std::string& root = ScratchDirectory();
        setenv("DOLVIN_SANDBOX_ROOT", root.c_str(), 1);
        std::string nvm = root + "/usr/ui/qel/nvm/defaults/Default";
        std::filesystem::create_directories(nvm);
        return nvm;
    }();
    return directory;
}

std::string SensitivityValue(const std::string& path) {
    const XmlDocPtr doc(xmlReadFile(path.c_str(), nullptr, 0));
    Require(doc != nullptr, "the new document reads back");
    const XPathContextPtr context(xmlXPathNewContext(doc.get()));
    const XPathObjectPtr result(xmlXPathEvalExpression(
        BAD_CAST "/NVM/UISettings/accelerometerSetting/sensitivity[1]/node()[1]", context.get()));
    Require(SelectedNodeCount(result.get()) > 0, "the sensitivity element is there");
    const XmlStringPtr value(xmlNodeGetContent(result->nodesetval->nodeTab[0]));
    return value ? reinterpret_cast<const char*>(value.get()) : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    QuietXmlLibrary();
    const std::string& directory = NvmDirectory();
    for (const char* name : {"NVM.xml.bak", "NVM.xml.ori", "newNVM.xml"}) {
        unlink((directory + "/" + name).c_str());
    }
    const std::string live = directory + "/NVM.xml";
    WriteBytes(live, data + 1, size - 1);
    const int level = data[0] % 4;
    char before[4096];
    Require(getcwd(before, sizeof before) != nullptr, "a working directory");

    const bool updated = SetJOVAccelNVM(level);

    char after[4096];
    Require(getcwd(after, sizeof after) != nullptr && std::string(after) == before,
            "back in the working directory");
    Require(access((directory + "/newNVM.xml").c_str(), F_OK) != 0, "no newNVM.xml left");
    const std::string original(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (!updated) {
        Require(ReadBytes(live) == original, "a failed update leaves NVM.xml as it was");
        return 0;
    }
    Require(ReadBytes(directory + "/NVM.xml.bak") == original, "the backup is the former file");
    Require(SensitivityValue(live) == std::to_string(level), "the level is in the element");
    return 0;
}
