// Feeds damaged and hostile texts to the export report's reader: it must
// end, refuse what is no report with a reason, and for what it reads give
// canonical bytes that read back as themselves, as the signature needs.
#include <cstdlib>
#include <string>
#include <string_view>

#include "player/export/ReportVerifier.h"

using namespace velmor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto report = ParseReportText(text, &error);
    const auto canonical = CanonicalReportBytes(text);
    if (!report) {
        if (error.empty()) std::abort();
        return 0;
    }
    // Whatever reads as a report has canonical bytes, and those are their own
    // canonical form: no signature member, sorted, nothing left to normalise.
    if (!canonical || *canonical != report->canonical) std::abort();
    const auto again = CanonicalReportBytes(*canonical);
    if (!again || *again != *canonical) std::abort();
    if (report->signedForm == false && (report->hasSignature || !report->problems.empty())) std::abort();
    for (const ParsedReportFile& f : report->files)
        if (f.path.empty()) std::abort();
    if (report->publicKey && report->signature)
        (void)VerifyEd25519(*report->publicKey, report->canonical, *report->signature);
    return 0;
}
