#include "nvm/NvmCopies.h"

#include <fcntl.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <unistd.h>

#include <string>

#include "common/XmlHandles.h"
#include "nvm/NvmFiles.h"
#include "nvm/TwinOutput.h"
#include "settings/DurableFile.h"

namespace {

// Put in the value's place for the one serialisation; where its serialised
// form appears exactly once, that is where the two copies differ.
constexpr char kMarker[] = "dolvin-value-marker-5f1c9e27";
// As the library's own xmlSaveFileEnc writes a document.
constexpr int kSaveOptions = XML_SAVE_AS_XML;

int AppendToString(void* context, const char* data, int length) {
    static_cast<std::string*>(context)->append(data, static_cast<size_t>(length));
    return length;
}

// The node as the library writes it inside the document.
std::string Serialised(xmlNode* node) {
    std::string text;
    xmlSaveCtxt* context = xmlSaveToIO(AppendToString, nullptr, &text, kNvmEncoding, kSaveOptions);
    if (context == nullptr) {
        return "";
    }
    const bool saved = xmlSaveTree(context, node) >= 0;
    return xmlSaveClose(context) >= 0 && saved ? text : "";
}

// Creates or empties the file as the library does, but never through a link.
int OpenForWriting(const char* name) {
    return DetachName(name)
               ? open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666)
               : -1;
}

bool FlushAndClose(int fd, bool complete) {
    complete = complete && fsync(fd) == 0;
    return close(fd) == 0 && complete;
}

enum class Outcome { kWritten, kFailed, kUntold };

// Both copies from one serialisation, with the marker in the value's place.
// kUntold where the marker did not appear exactly once: the copies written
// cannot be trusted then.
Outcome WriteFromOneSerialisation(xmlDoc* doc, xmlNode* value, const char* levelText) {
    const std::string original = Serialised(value);
    xmlNodeSetContent(value, BAD_CAST levelText);
    const std::string changed = Serialised(value);
    xmlNodeSetContent(value, BAD_CAST kMarker);
    const std::string marker = Serialised(value);
    if (original.empty() || changed.empty() || marker.empty()) {
        return Outcome::kUntold;
    }
    const int originalFd = OpenForWriting(kNvmOriginalCopy);
    const int newFd = OpenForWriting(kNvmNewFile);
    TwinOutput output(marker, original, changed, originalFd, newFd);
    xmlSaveCtxt* context =
        xmlSaveToIO(TwinOutput::Write, nullptr, &output, kNvmEncoding, kSaveOptions);
    bool saved = context != nullptr && xmlSaveDoc(context, doc) >= 0;
    saved = context != nullptr && xmlSaveClose(context) >= 0 && saved;
    output.Finish();
    xmlNodeSetContent(value, BAD_CAST levelText);
    if (originalFd >= 0) {
        close(originalFd);
    }
    const bool told = output.Markers() == 1;
    const bool complete = newFd >= 0 && FlushAndClose(newFd, told && saved && output.Complete(1));
    if (!told) {
        return Outcome::kUntold;
    }
    return complete ? Outcome::kWritten : Outcome::kFailed;
}

// The library can report a byte count after a write failed part-way, so its
// error record decides as well.
bool SaveNewDocument(xmlDoc* doc) {
    xmlResetLastError();
    const int written =
        DetachName(kNvmNewFile) ? xmlSaveFileEnc(kNvmNewFile, doc, kNvmEncoding) : -1;
    return written > 0 && xmlGetLastError() == nullptr && FlushFileToStorage(kNvmNewFile);
}

}  // namespace

void WriteOriginalCopy(xmlDoc* doc) {
    if (DetachName(kNvmOriginalCopy)) {
        xmlSaveFileEnc(kNvmOriginalCopy, doc, kNvmEncoding);
    }
}

bool WriteNvmCopies(xmlDoc* doc, xmlNode* value, const char* levelText) {
    const XmlStringPtr originalContent(xmlNodeGetContent(value));
    // A compressed document is written compressed by the library: the
    // library writes both copies itself then.
    const Outcome outcome =
        doc->compression > 0 ? Outcome::kUntold : WriteFromOneSerialisation(doc, value, levelText);
    bool complete = outcome == Outcome::kWritten;
    if (outcome == Outcome::kUntold) {
        xmlNodeSetContent(value, originalContent.get());
        WriteOriginalCopy(doc);
        xmlNodeSetContent(value, BAD_CAST levelText);
        complete = SaveNewDocument(doc);
    }
    if (!complete) {
        unlink(kNvmNewFile);
    }
    return complete;
}
