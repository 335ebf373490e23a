#include "nvm/NvmCopies.h"

#include <fcntl.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <unistd.h>

#include <new>

#include "nvm/MarkerOutput.h"
#include "nvm/NvmFiles.h"
#include "storage/DurableFile.h"

namespace {

// Put in the value's place for the one serialisation; where its serialised
// form appears exactly once, that is where the new document and the original
// copy differ.
constexpr char kMarker[] = "dolvin-value-marker-5f1c9e27";
// As the library's own xmlSaveFileEnc writes a document.
constexpr int kSaveOptions = XML_SAVE_AS_XML;

int AppendToString(void* context, const char* data, int length) {
    try {
        static_cast<std::string*>(context)->append(data, static_cast<size_t>(length));
        return length;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

// The node as the library writes it inside the document; empty on failure.
std::string Serialised(xmlNode* node) {
    std::string text;
    xmlSaveCtxt* context = xmlSaveToIO(AppendToString, nullptr, &text, kNvmEncoding, kSaveOptions);
    if (context == nullptr) {
        return "";
    }
    const bool saved = xmlSaveTree(context, node) >= 0;
    return xmlSaveClose(context) >= 0 && saved ? text : "";
}

// xmlNodeSetContent reports nothing: a copy that could not be made leaves
// the node empty, so the content is compared afterwards.
bool SetContent(xmlNode* node, const xmlChar* content) {
    xmlNodeSetContent(node, content);
    return xmlStrEqual(node->content, content) != 0;
}

// Creates the file afresh, as the library would, but never through a link.
int OpenForWriting(const char* name) {
    return RemoveName(name) ? open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)
                            : -1;
}

bool FlushAndClose(int fd, bool complete) {
    complete = complete && FlushFile(fd, kNvmHere);
    return close(fd) == 0 && complete;
}

enum class Outcome { kWritten, kFailed, kLeftToLibrary };

// "newNVM.xml" from the one serialisation with the marker in the value's
// place. kLeftToLibrary where the marker did not appear exactly once (the
// document holds its text) or could not be put there: the file cannot be
// trusted, and the library writes the document itself.
Outcome WriteFromOneSerialisation(xmlDoc* doc, xmlNode* value, const char* levelText,
                                  OriginalCopySource& source) {
    std::string original = Serialised(value);
    std::string changed = SetContent(value, BAD_CAST levelText) ? Serialised(value) : "";
    const std::string marker = SetContent(value, BAD_CAST kMarker) ? Serialised(value) : "";
    if (original.empty() || changed.empty() || marker.size() < changed.size()) {
        return Outcome::kLeftToLibrary;
    }
    const int fd = OpenForWriting(kNvmNewFile);
    MarkerOutput output(marker, changed, fd);
    xmlSaveCtxt* context =
        xmlSaveToIO(MarkerOutput::Write, nullptr, &output, kNvmEncoding, kSaveOptions);
    bool saved = context != nullptr && xmlSaveDoc(context, doc) >= 0;
    saved = context != nullptr && xmlSaveClose(context) >= 0 && saved;
    saved = output.Finish() && saved;
    const bool markedOnce = output.Markers() == 1;
    if (fd < 0 || !FlushAndClose(fd, saved && markedOnce) || !saved) {
        return markedOnce ? Outcome::kFailed : Outcome::kLeftToLibrary;
    }
    if (!markedOnce) {
        return Outcome::kLeftToLibrary;
    }
    source.fromNewFile = true;
    source.offset = output.TextOffset();
    source.newText = std::move(changed);
    source.oldText = std::move(original);
    return Outcome::kWritten;
}

// Saves the document with the library, whose byte count can come after a
// write failed part-way: its error record decides as well.
bool SaveWithLibrary(xmlDoc* doc, const char* name) {
    xmlResetLastError();
    return RemoveName(name) && xmlSaveFileEnc(name, doc, kNvmEncoding) > 0 &&
           xmlGetLastError() == nullptr;
}

}  // namespace

bool WriteNewDocument(xmlDoc* doc, xmlNode* value, const char* levelText,
                      OriginalCopySource& original) {
    original.oldContent.reset(xmlNodeGetContent(value));
    // A compressed document is written compressed by the library: the
    // library writes it itself then.
    const Outcome outcome = !original.oldContent ? Outcome::kFailed
                            : doc->compression > 0
                                ? Outcome::kLeftToLibrary
                                : WriteFromOneSerialisation(doc, value, levelText, original);
    const bool holdsLevel = SetContent(value, BAD_CAST levelText);
    bool complete = outcome == Outcome::kWritten;
    if (outcome == Outcome::kLeftToLibrary) {
        complete = holdsLevel && SaveWithLibrary(doc, kNvmNewFile) &&
                   FlushFileToStorage(kNvmNewFile, kNvmHere);
    }
    if (!complete || !holdsLevel) {
        unlink(kNvmNewFile);
    }
    return complete && holdsLevel;
}

void WriteOriginalCopy(xmlDoc* doc, xmlNode* value, const OriginalCopySource& source) {
    bool complete = false;
    if (source.fromNewFile) {
        // The new document is "newNVM.xml" until the rotation makes it "NVM.xml".
        int from = open(kNvmNewFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        from = from >= 0 ? from : open(kNvmFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        const int to = from >= 0 ? OpenForWriting(kNvmOriginalCopy) : -1;
        complete =
            to >= 0 && CopyReplacing(from, to, source.offset, source.newText, source.oldText);
        complete = (to < 0 || close(to) == 0) && complete;
        if (from >= 0) {
            close(from);
        }
    } else if (value == nullptr ||
               (source.oldContent && SetContent(value, source.oldContent.get()))) {
        complete = SaveWithLibrary(doc, kNvmOriginalCopy);
    }
    if (!complete) {
        unlink(kNvmOriginalCopy);
    }
}
