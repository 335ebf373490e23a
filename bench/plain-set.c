/* The NVM steps of a set written in plain C with libxml2, as the simplest
 * program would do them: parse, save the document as loaded, select the
 * sensitivity, set it, save. No settings file, no flush to storage, no
 * rotation, the C library's allocator. The benchmark's peer for dolvin,
 * built with the same compiler and libxml2.
 *   plain-set NVM.xml ORIGINAL-COPY NEW-COPY LEVEL */
#include <libxml/parser.h>
#include <libxml/xpath.h>

int main(int argc, char **argv) {
    if (argc != 5) {
        return 2;
    }
    xmlInitParser();
    int ok = 0;
    xmlDocPtr doc = xmlReadFile(argv[1], NULL, 0);
    if (doc != NULL) {
        xmlSaveFileEnc(argv[2], doc, "UTF-8");
        xmlXPathContextPtr context = xmlXPathNewContext(doc);
        xmlXPathObjectPtr result = xmlXPathEvalExpression(
            BAD_CAST "/NVM/UISettings/accelerometerSetting/sensitivity", context);
        if (result != NULL && result->nodesetval != NULL && result->nodesetval->nodeNr > 0 &&
            result->nodesetval->nodeTab[0]->children != NULL) {
            xmlNodeSetContent(result->nodesetval->nodeTab[0]->children, BAD_CAST argv[4]);
            ok = xmlSaveFileEnc(argv[3], doc, "UTF-8") > 0;
        }
        xmlXPathFreeObject(result);
        xmlXPathFreeContext(context);
        xmlFreeDoc(doc);
    }
    xmlCleanupParser();
    return ok ? 0 : 1;
}
