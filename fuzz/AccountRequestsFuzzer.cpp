#include "FuzzInput.h"

#include "server/AccountRequests.h"

#include <cstdio>
#include <cstdlib>

using namespace snipjar;
using namespace snipjar::server::account_requests;

// What a signed-in device sends to the sync service's encryption and pairing calls: a request body
// for each parser, and the names in the path, cut at NUL bytes. Whatever passes a parser is within
// the bounds the database relies on.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> parts = fuzz::partsOf(fuzz::bytesOf(data, size), 3);
    const QByteArray& body = parts[0];
    const char* refusal = nullptr;
    if (const auto change = parseEncryptionChange(body, refusal)) {
        SNIPJAR_FUZZ_CHECK(isKeyId(change->keyId));
        SNIPJAR_FUZZ_CHECK(!change->previous || isKeyId(*change->previous));
        SNIPJAR_FUZZ_CHECK(change->verifier.size() >= smallestVerifier &&
                           change->verifier.size() <= largestVerifier);
    } else {
        SNIPJAR_FUZZ_CHECK(refusal != nullptr);
    }
    refusal = nullptr;
    if (const auto slot = parseSlotBody(body, refusal)) {
        SNIPJAR_FUZZ_CHECK(!slot->isEmpty() && slot->size() <= largestSlotBody);
    } else {
        SNIPJAR_FUZZ_CHECK(refusal != nullptr);
    }
    if (const auto password = parsePassword(body, refusal)) {
        SNIPJAR_FUZZ_CHECK(password->size() <= largestPassword);
    }
    // Names reach SQL as parameters and answers as text: printable ASCII of bounded length only.
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const std::string name = parts[i].toStdString();
        for (const bool accepted : {isKeyId(name), isMailboxName(name), isSlotName(name)}) {
            if (accepted) {
                SNIPJAR_FUZZ_CHECK(!name.empty() && name.size() <= largestKeyId);
                for (const char c : name) {
                    SNIPJAR_FUZZ_CHECK(c > ' ' && c < 0x7f);
                }
            }
        }
    }
    return 0;
}
