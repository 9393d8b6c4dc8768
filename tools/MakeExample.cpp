// Writes the example host list (examples/localhost.vdm) with the document file code.
#include <cstdio>

#include "tools/ExampleDocument.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.vdm\n", argv[0]);
        return 2;
    }
    ServerDoc doc;
    for (const ServerItem& it : exampleHosts()) {
        doc.append(it);
    }
    doc.fileName = argv[1];
    if (!doc.save()) {
        std::fprintf(stderr, "%s: %s\n", argv[1], doc.errorText.c_str());
        return 1;
    }
    return 0;
}
